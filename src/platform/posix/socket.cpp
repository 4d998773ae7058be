#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/socket.h"
#include "platform/os_error.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace platform {
namespace {

int fd_of(std::intptr_t handle) { return static_cast<int>(handle); }

sockaddr_in loopback_address(std::uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

core::Result<void> set_fd_nonblocking(int fd, bool on)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return core::fail(last_os_error_text());
    const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (::fcntl(fd, F_SETFL, wanted) < 0)
        return core::fail(last_os_error_text());
    return core::ok();
}

} // namespace

core::Result<void> Socket::set_recv_timeout(std::chrono::milliseconds timeout)
{
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    if (::setsockopt(fd_of(m_handle), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
        return core::fail(last_os_error_text());
    return core::ok();
}

core::Result<std::size_t> Socket::recv_some(char* buffer, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::recv(fd_of(m_handle), buffer, size, 0);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            return core::fail(last_os_error_text());
    }
}

core::Result<void> Socket::send_all(std::string_view bytes)
{
    while (!bytes.empty()) {
        // MSG_NOSIGNAL: a peer that went away must give an error, not kill the process.
        const ssize_t n = ::send(fd_of(m_handle), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return core::fail(last_os_error_text());
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return core::ok();
}

void Socket::shutdown_send()
{
    if (is_open())
        ::shutdown(fd_of(m_handle), SHUT_WR);
}

void Socket::close()
{
    if (is_open()) {
        ::close(fd_of(m_handle));
        m_handle = invalid_handle;
    }
}

core::Result<Listener> Listener::open_loopback(std::uint16_t port, int backlog)
{
    // CLOEXEC: child processes (reg, the browser) must not keep the port open.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return core::fail(last_os_error_text());
    Listener listener(fd);
    const sockaddr_in addr = loopback_address(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0
        || ::listen(fd, backlog) != 0)
        return core::fail(last_os_error_text());
    return listener;
}

core::Result<std::uint16_t> Listener::local_port() const
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd_of(m_handle), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return core::fail(last_os_error_text());
    return ntohs(addr.sin_port);
}

core::Result<void> Listener::set_nonblocking() { return set_fd_nonblocking(fd_of(m_handle), true); }

AcceptOutcome Listener::accept()
{
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    const int fd = ::accept4(fd_of(m_handle), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) {
        const bool pending_none = errno == EAGAIN || errno == EWOULDBLOCK;
        return {pending_none ? AcceptStatus::would_block : AcceptStatus::failed, Socket()};
    }
    Socket conn(fd);
    if (peer.ss_family != AF_INET && peer.ss_family != AF_INET6)
        return {AcceptStatus::failed, Socket()};
    return {AcceptStatus::accepted, std::move(conn)};
}

void Listener::close()
{
    if (is_open()) {
        ::close(fd_of(m_handle));
        m_handle = Socket::invalid_handle;
    }
}

core::Result<Socket> connect_loopback(std::uint16_t port, std::chrono::milliseconds timeout)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return core::fail(last_os_error_text());
    Socket sock(fd);
    VANO_TRY(set_fd_nonblocking(fd, true));
    const sockaddr_in addr = loopback_address(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS)
            return core::fail(last_os_error_text());
        pollfd p{fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
        if (ready < 0)
            return core::fail(last_os_error_text());
        if (ready == 0)
            return core::fail(os_error_text(ETIMEDOUT));
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            return core::fail(last_os_error_text());
        if (err != 0)
            return core::fail(os_error_text(err));
    }
    VANO_TRY(set_fd_nonblocking(fd, false));
    return sock;
}

} // namespace platform
