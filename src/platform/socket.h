#pragma once
// TCP sockets on the IPv4 loopback address: the local server's listener and its
// connections, and a client connection for talking to a running instance.

#include "core/result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

// One connected stream socket, closed when it goes out of scope. Move-only.
class Socket {
public:
    Socket() = default;
    explicit Socket(std::intptr_t handle) : m_handle(handle) {}
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : m_handle(other.m_handle) { other.m_handle = invalid_handle; }
    Socket& operator=(Socket&& other) noexcept
    {
        if (this != &other) {
            close();
            m_handle = other.m_handle;
            other.m_handle = invalid_handle;
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    [[nodiscard]] bool is_open() const { return m_handle != invalid_handle; }

    // Blocking reads give up after `timeout` (a time-out is then a read failure).
    [[nodiscard]] core::Result<void> set_recv_timeout(std::chrono::milliseconds timeout);

    // Reads what has arrived, at most `size` bytes, waiting for at least one; 0 means the
    // peer closed its side. Failure (time-out, reset) is the OS error text.
    [[nodiscard]] core::Result<std::size_t> recv_some(char* buffer, std::size_t size);

    // Writes all of `bytes`, blocking as needed; failure is the OS error text.
    [[nodiscard]] core::Result<void> send_all(std::string_view bytes);

    // Ends our sending side (the peer reads end of stream); reading stays possible.
    void shutdown_send();

    void close();

    static constexpr std::intptr_t invalid_handle = -1;

private:
    std::intptr_t m_handle = invalid_handle;
};

// What one non-blocking accept gave.
enum class AcceptStatus { accepted, would_block, failed };

struct AcceptOutcome {
    AcceptStatus status = AcceptStatus::failed;
    Socket connection; // open only when accepted; blocking, whatever the listener is
};

// A listening IPv4 stream socket, closed when it goes out of scope. Move-only.
class Listener {
public:
    Listener() = default;
    ~Listener() { close(); }
    Listener(Listener&& other) noexcept : m_handle(other.m_handle) { other.m_handle = Socket::invalid_handle; }
    Listener& operator=(Listener&& other) noexcept
    {
        if (this != &other) {
            close();
            m_handle = other.m_handle;
            other.m_handle = Socket::invalid_handle;
        }
        return *this;
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // A socket bound to 127.0.0.1:`port` (0: the system picks a free port) and listening
    // with `backlog`. Failure is the OS error text; nothing is left open then.
    [[nodiscard]] static core::Result<Listener> open_loopback(std::uint16_t port, int backlog);

    // The port the listener is bound to; failure is the OS error text.
    [[nodiscard]] core::Result<std::uint16_t> local_port() const;

    // Makes accept() return at once when nothing is pending.
    [[nodiscard]] core::Result<void> set_nonblocking();

    // Takes one pending connection. A peer that is neither IPv4 nor IPv6 is closed and
    // reported as failed.
    [[nodiscard]] AcceptOutcome accept();

    [[nodiscard]] bool is_open() const { return m_handle != Socket::invalid_handle; }
    void close();

private:
    explicit Listener(std::intptr_t handle) : m_handle(handle) {}
    std::intptr_t m_handle = Socket::invalid_handle;
};

// Connects to 127.0.0.1:`port`, waiting at most `timeout`. The socket is blocking.
// Failure is the OS error text.
[[nodiscard]] core::Result<Socket> connect_loopback(std::uint16_t port, std::chrono::milliseconds timeout);

} // namespace platform
