#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/child_process.h"

#include "platform/posix/spawn.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <thread>

namespace platform {

struct ChildProcess::Os {
    pid_t pid = -1;
    posix::Fd out;
    posix::Fd err;
    std::optional<int> exit_code;

    ~Os() { end(); }

    void end()
    {
        // Never pid -1 or 0: kill() would take those as whole groups of processes.
        if (exit_code || pid <= 0)
            return;
        ::kill(pid, SIGKILL);
        exit_code = posix::wait_exit_code(pid).value_or(-1);
    }
};

ChildProcess::ChildProcess() = default;
ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;

core::Result<ChildProcess> ChildProcess::start(const std::filesystem::path& program, const std::vector<std::string>& args)
{
    auto spawned = VANO_TRY(posix::spawn(program.string(), args, StdinMode::null_device, OutputMode::capture,
                                         OutputMode::capture));
    ::fcntl(spawned.out.get(), F_SETFL, O_NONBLOCK);
    ::fcntl(spawned.err.get(), F_SETFL, O_NONBLOCK);
    ChildProcess child;
    child.m_os = std::make_unique<Os>();
    child.m_os->pid = spawned.pid;
    child.m_os->out = std::move(spawned.out);
    child.m_os->err = std::move(spawned.err);
    return child;
}

bool ChildProcess::stdout_open() const { return m_os && m_os->out.valid(); }

void ChildProcess::pump(std::chrono::milliseconds timeout)
{
    pollfd fds[2];
    int count = 0;
    posix::Fd* owners[2];
    std::string* buffers[2];
    if (m_os) {
        for (auto [owner, buffer] : {std::pair{&m_os->out, &m_out_buffer}, std::pair{&m_os->err, &m_err_buffer}}) {
            if (!owner->valid())
                continue;
            fds[count] = {owner->get(), POLLIN, 0};
            owners[count] = owner;
            buffers[count++] = buffer;
        }
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
                owners[i]->reset();
            break;
        }
    }
}

std::optional<int> ChildProcess::wait_for(std::chrono::milliseconds timeout)
{
    if (!m_os || m_os->exit_code)
        return m_os ? m_os->exit_code : std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(m_os->pid, &status, WNOHANG);
        if (r == m_os->pid) {
            m_os->exit_code = posix::exit_code_of(status).value_or(-1);
            return m_os->exit_code;
        }
        if (r < 0 && errno != EINTR)
            return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        // Keeps the pipes drained so that a chatty child never blocks on them.
        pump(std::chrono::milliseconds(1));
    }
}

std::uint32_t ChildProcess::pid() const { return m_os ? static_cast<std::uint32_t>(m_os->pid) : 0; }

void ChildProcess::kill()
{
    if (m_os)
        m_os->end();
}

} // namespace platform
