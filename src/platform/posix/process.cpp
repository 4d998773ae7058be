#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/process.h"
#include "platform/os_error.h"
#include "platform/posix/spawn_signals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

constexpr std::size_t read_chunk = 64 * 1024;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { close(); }
    void reset(int fd)
    {
        close();
        m_fd = fd;
    }
    int get() const { return m_fd; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

struct Pipe {
    Fd read;
    Fd write;
};

core::Result<void> make_pipe(Pipe& p)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return core::fail(last_os_error_text());
    p.read.reset(fds[0]);
    p.write.reset(fds[1]);
    return core::ok();
}

// Reaps a child that nobody waits for, so that it leaves no zombie behind.
void reap_in_background(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

std::optional<int> wait_exit_code(pid_t pid)
{
    int status = 0;
    for (;;) {
        if (::waitpid(pid, &status, 0) >= 0)
            break;
        if (errno != EINTR)
            return std::nullopt;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return std::nullopt;
}

// Writing into a pipe whose reader has gone raises SIGPIPE, which would end the whole
// process. It is blocked on this thread while the child's input is written, and a
// SIGPIPE raised here is taken back before the mask is restored.
class SigpipeBlock {
public:
    SigpipeBlock()
    {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        ::sigpending(&pending);
        m_was_pending = sigismember(&pending, SIGPIPE) == 1;
        ::pthread_sigmask(SIG_BLOCK, &m_set, &m_old);
    }
    ~SigpipeBlock()
    {
        if (m_raised && !m_was_pending) {
            const timespec zero{};
            while (::sigtimedwait(&m_set, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    void raised() { m_raised = true; }

private:
    sigset_t m_set{};
    sigset_t m_old{};
    bool m_was_pending = false;
    bool m_raised = false;
};

} // namespace

core::Result<ProcessResult> run(const ProcessSpec& spec)
{
    VANO_TRY(check_process_spec(spec));
    const bool detach = spec.wait == WaitMode::detach;

    Pipe in, out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    struct ActionsGuard {
        posix_spawn_file_actions_t* a;
        ~ActionsGuard() { posix_spawn_file_actions_destroy(a); }
    } actions_guard{&actions};

    if (spec.stdin_mode == StdinMode::null_device) {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    } else if (spec.stdin_mode == StdinMode::pipe) {
        VANO_TRY(make_pipe(in));
        posix_spawn_file_actions_adddup2(&actions, in.read.get(), 0);
    }
    if (spec.stdout_mode == OutputMode::capture) {
        VANO_TRY(make_pipe(out));
        posix_spawn_file_actions_adddup2(&actions, out.write.get(), 1);
    }
    if (spec.stderr_mode == OutputMode::capture) {
        VANO_TRY(make_pipe(err));
        posix_spawn_file_actions_adddup2(&actions, err.write.get(), 2);
    }

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(spec.program.c_str()));
    for (const auto& a : spec.args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // The child starts with no signal blocked and every signal at its default, whatever
    // this process has set up for its own sockets and pipes.
    const posix::SpawnSignals signals;
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, spec.program.c_str(), &actions, signals.get(), argv.data(), environ);
    if (rc != 0)
        return core::fail(os_error_text(rc));
    in.read.close();
    out.write.close();
    err.write.close();

    ProcessResult result;
    if (detach) {
        reap_in_background(pid);
        return result;
    }

    if (in.write.get() >= 0)
        ::fcntl(in.write.get(), F_SETFL, ::fcntl(in.write.get(), F_GETFL) | O_NONBLOCK);
    SigpipeBlock sigpipe;
    std::size_t written = 0;
    if (in.write.get() >= 0 && spec.stdin_bytes.empty())
        in.write.close();

    char buf[read_chunk];
    while (in.write.get() >= 0 || out.read.get() >= 0 || err.read.get() >= 0) {
        pollfd fds[3];
        nfds_t n = 0;
        if (in.write.get() >= 0)
            fds[n++] = {in.write.get(), POLLOUT, 0};
        if (out.read.get() >= 0)
            fds[n++] = {out.read.get(), POLLIN, 0};
        if (err.read.get() >= 0)
            fds[n++] = {err.read.get(), POLLIN, 0};
        if (::poll(fds, n, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (nfds_t i = 0; i < n; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == in.write.get()) {
                const ssize_t w = ::write(in.write.get(), spec.stdin_bytes.data() + written,
                                          spec.stdin_bytes.size() - written);
                if (w < 0 && (errno == EINTR || errno == EAGAIN))
                    continue;
                if (w < 0) {
                    if (errno == EPIPE)
                        sigpipe.raised();
                    result.stdin_error = last_os_error_text();
                    // The child is left as it is: nothing more is read and nobody waits.
                    reap_in_background(pid);
                    return result;
                }
                written += static_cast<std::size_t>(w);
                if (written == spec.stdin_bytes.size())
                    in.write.close();
                continue;
            }
            Fd& fd = fds[i].fd == out.read.get() ? out.read : err.read;
            std::string& sink = &fd == &out.read ? result.stdout_bytes : result.stderr_bytes;
            const ssize_t r = ::read(fd.get(), buf, sizeof buf);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                fd.close();
            else
                sink.append(buf, static_cast<std::size_t>(r));
        }
    }
    in.write.close();
    out.read.close();
    err.read.close();
    result.exit_code = wait_exit_code(pid);
    return result;
}

} // namespace platform
