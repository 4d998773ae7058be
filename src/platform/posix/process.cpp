#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/process.h"
#include "platform/os_error.h"
#include "platform/posix/spawn.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t read_chunk = 64 * 1024;

// Reaps a child that nobody waits for, so that it leaves no zombie behind.
void reap_in_background(pid_t pid)
{
    std::thread([pid] { (void)posix::wait_exit_code(pid); }).detach();
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

    auto child = VANO_TRY(posix::spawn(spec.program, spec.args, spec.stdin_mode, spec.stdout_mode, spec.stderr_mode));
    const pid_t pid = child.pid;
    posix::Fd& in_write = child.in;
    posix::Fd& out_read = child.out;
    posix::Fd& err_read = child.err;

    ProcessResult result;
    if (detach) {
        reap_in_background(pid);
        return result;
    }

    if (in_write.get() >= 0)
        ::fcntl(in_write.get(), F_SETFL, ::fcntl(in_write.get(), F_GETFL) | O_NONBLOCK);
    SigpipeBlock sigpipe;
    std::size_t written = 0;
    if (in_write.get() >= 0 && spec.stdin_bytes.empty())
        in_write.close();

    char buf[read_chunk];
    while (in_write.get() >= 0 || out_read.get() >= 0 || err_read.get() >= 0) {
        pollfd fds[3];
        nfds_t n = 0;
        if (in_write.get() >= 0)
            fds[n++] = {in_write.get(), POLLOUT, 0};
        if (out_read.get() >= 0)
            fds[n++] = {out_read.get(), POLLIN, 0};
        if (err_read.get() >= 0)
            fds[n++] = {err_read.get(), POLLIN, 0};
        if (::poll(fds, n, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (nfds_t i = 0; i < n; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == in_write.get()) {
                const ssize_t w = ::write(in_write.get(), spec.stdin_bytes.data() + written,
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
                    in_write.close();
                continue;
            }
            posix::Fd& fd = fds[i].fd == out_read.get() ? out_read : err_read;
            std::string& sink = &fd == &out_read ? result.stdout_bytes : result.stderr_bytes;
            const ssize_t r = ::read(fd.get(), buf, sizeof buf);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                fd.close();
            else
                sink.append(buf, static_cast<std::size_t>(r));
        }
    }
    in_write.close();
    out_read.close();
    err_read.close();
    result.exit_code = posix::wait_exit_code(pid);
    return result;
}

} // namespace platform
