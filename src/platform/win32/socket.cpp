#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/socket.h"
#include "platform/os_error.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <mutex>

namespace platform {
namespace {

SOCKET sock_of(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

std::string last_wsa_error_text() { return os_error_text(WSAGetLastError()); }

// Winsock needs one WSAStartup per process before any socket call; it is never undone
// because sockets live until the process ends.
core::Result<void> ensure_winsock()
{
    static std::once_flag once;
    static int startup_error = 0;
    std::call_once(once, [] {
        WSADATA data{};
        startup_error = WSAStartup(MAKEWORD(2, 2), &data);
    });
    if (startup_error != 0)
        return core::fail(os_error_text(startup_error));
    return core::ok();
}

sockaddr_in loopback_address(std::uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

core::Result<SOCKET> new_stream_socket()
{
    VANO_TRY(ensure_winsock());
    // Not inheritable: child processes (reg, the browser) must not keep the port open.
    const SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
        return core::fail(last_wsa_error_text());
    return s;
}

core::Result<void> set_socket_nonblocking(SOCKET s, bool on)
{
    u_long mode = on ? 1 : 0;
    if (ioctlsocket(s, FIONBIO, &mode) != 0)
        return core::fail(last_wsa_error_text());
    return core::ok();
}

} // namespace

core::Result<void> Socket::set_recv_timeout(std::chrono::milliseconds timeout)
{
    const DWORD ms = static_cast<DWORD>(timeout.count());
    if (setsockopt(sock_of(m_handle), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms) != 0)
        return core::fail(last_wsa_error_text());
    return core::ok();
}

core::Result<std::size_t> Socket::recv_some(char* buffer, std::size_t size)
{
    const int want = size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size);
    const int n = recv(sock_of(m_handle), buffer, want, 0);
    if (n == SOCKET_ERROR)
        return core::fail(last_wsa_error_text());
    return static_cast<std::size_t>(n);
}

core::Result<void> Socket::send_all(std::string_view bytes)
{
    while (!bytes.empty()) {
        const int chunk = bytes.size() > 0x100000 ? 0x100000 : static_cast<int>(bytes.size());
        const int n = send(sock_of(m_handle), bytes.data(), chunk, 0);
        if (n == SOCKET_ERROR)
            return core::fail(last_wsa_error_text());
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return core::ok();
}

void Socket::shutdown_send()
{
    if (is_open())
        shutdown(sock_of(m_handle), SD_SEND);
}

void Socket::close()
{
    if (is_open()) {
        closesocket(sock_of(m_handle));
        m_handle = invalid_handle;
    }
}

core::Result<Listener> Listener::open_loopback(std::uint16_t port, int backlog)
{
    const SOCKET s = VANO_TRY(new_stream_socket());
    Listener listener(static_cast<std::intptr_t>(s));
    const sockaddr_in addr = loopback_address(port);
    if (bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || listen(s, backlog) != 0)
        return core::fail(last_wsa_error_text());
    return listener;
}

core::Result<std::uint16_t> Listener::local_port() const
{
    sockaddr_in addr{};
    int len = sizeof addr;
    if (getsockname(sock_of(m_handle), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return core::fail(last_wsa_error_text());
    return ntohs(addr.sin_port);
}

core::Result<void> Listener::set_nonblocking() { return set_socket_nonblocking(sock_of(m_handle), true); }

AcceptOutcome Listener::accept()
{
    sockaddr_storage peer{};
    int len = sizeof peer;
    const SOCKET s = ::accept(sock_of(m_handle), reinterpret_cast<sockaddr*>(&peer), &len);
    if (s == INVALID_SOCKET) {
        const bool pending_none = WSAGetLastError() == WSAEWOULDBLOCK;
        return {pending_none ? AcceptStatus::would_block : AcceptStatus::failed, Socket()};
    }
    Socket conn(static_cast<std::intptr_t>(s));
    if (peer.ss_family != AF_INET && peer.ss_family != AF_INET6)
        return {AcceptStatus::failed, Socket()};
    // An accepted socket inherits the listener's non-blocking mode; its reads must block.
    if (!set_socket_nonblocking(s, false))
        return {AcceptStatus::failed, Socket()};
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return {AcceptStatus::accepted, std::move(conn)};
}

void Listener::close()
{
    if (is_open()) {
        closesocket(sock_of(m_handle));
        m_handle = Socket::invalid_handle;
    }
}

core::Result<Socket> connect_loopback(std::uint16_t port, std::chrono::milliseconds timeout)
{
    const SOCKET s = VANO_TRY(new_stream_socket());
    Socket sock(static_cast<std::intptr_t>(s));
    VANO_TRY(set_socket_nonblocking(s, true));
    const sockaddr_in addr = loopback_address(port);
    if (connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return core::fail(last_wsa_error_text());
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval tv{};
        tv.tv_sec = static_cast<long>(timeout.count() / 1000);
        tv.tv_usec = static_cast<long>((timeout.count() % 1000) * 1000);
        const int ready = select(0, nullptr, &writable, &failed, &tv);
        if (ready == SOCKET_ERROR)
            return core::fail(last_wsa_error_text());
        if (ready == 0)
            return core::fail(os_error_text(WSAETIMEDOUT));
        if (FD_ISSET(s, &failed)) {
            int err = 0;
            int len = sizeof err;
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
            return core::fail(os_error_text(err != 0 ? err : WSAECONNREFUSED));
        }
    }
    VANO_TRY(set_socket_nonblocking(s, false));
    return sock;
}

} // namespace platform
