#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/child_process.h"

#include "platform/os_error.h"
#include "platform/posix/spawn_signals.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace platform {

namespace {

void close_fd(std::intptr_t& fd)
{
    if (fd >= 0)
        ::close(static_cast<int>(fd));
    fd = -1;
}

int decode_status(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

core::Result<ChildProcess> ChildProcess::start(const std::filesystem::path& program, const std::vector<std::string>& args)
{
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return core::fail(last_os_error_text());
    if (::pipe2(err, O_CLOEXEC) != 0) {
        auto text = last_os_error_text();
        ::close(out[0]);
        ::close(out[1]);
        return core::fail(std::move(text));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);

    std::vector<std::string> argv_text{program.string()};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const posix::SpawnSignals signals;
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, signals.get(), argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (rc != 0) {
        ::close(out[0]);
        ::close(err[0]);
        return core::fail(os_error_text(rc));
    }
    ::fcntl(out[0], F_SETFL, O_NONBLOCK);
    ::fcntl(err[0], F_SETFL, O_NONBLOCK);
    ChildProcess child;
    child.m_process = pid;
    child.m_out = out[0];
    child.m_err = err[0];
    return child;
}

void ChildProcess::pump(std::chrono::milliseconds timeout)
{
    pollfd fds[2];
    int count = 0;
    std::intptr_t* owners[2];
    std::string* buffers[2];
    if (m_out >= 0) {
        fds[count] = {static_cast<int>(m_out), POLLIN, 0};
        owners[count] = &m_out;
        buffers[count++] = &m_out_buffer;
    }
    if (m_err >= 0) {
        fds[count] = {static_cast<int>(m_err), POLLIN, 0};
        owners[count] = &m_err;
        buffers[count++] = &m_err_buffer;
    }
    if (count == 0) {
        std::this_thread::sleep_for(timeout);
        return;
    }
    if (::poll(fds, static_cast<nfds_t>(count), static_cast<int>(timeout.count())) <= 0)
        return;
    for (int i = 0; i < count; ++i) {
        if (fds[i].revents == 0)
            continue;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                buffers[i]->append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || errno != EAGAIN)
                close_fd(*owners[i]);
            break;
        }
    }
}

std::optional<int> ChildProcess::wait_for(std::chrono::milliseconds timeout)
{
    if (m_exit_code || m_process < 0)
        return m_exit_code;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(static_cast<pid_t>(m_process), &status, WNOHANG);
        if (r == static_cast<pid_t>(m_process)) {
            m_exit_code = decode_status(status);
            return m_exit_code;
        }
        if (r < 0 && errno != EINTR)
            return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        // Keeps the pipes drained so that a chatty child never blocks on them.
        pump(std::chrono::milliseconds(1));
    }
}

std::uint32_t ChildProcess::pid() const { return m_process < 0 ? 0 : static_cast<std::uint32_t>(m_process); }

void ChildProcess::kill()
{
    if (m_process < 0 || m_exit_code)
        return;
    ::kill(static_cast<pid_t>(m_process), SIGKILL);
    int status = 0;
    while (::waitpid(static_cast<pid_t>(m_process), &status, 0) < 0 && errno == EINTR) {
    }
    m_exit_code = decode_status(status);
}

void ChildProcess::release()
{
    kill();
    m_process = -1;
    close_fd(m_out);
    close_fd(m_err);
}

} // namespace platform
