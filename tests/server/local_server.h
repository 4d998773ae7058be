#pragma once
// A local server on a port of its own, driven over real loopback sockets, and a
// configuration folder of the test's own.

#include "main/routes.h"
#include "platform/env.h"
#include "platform/socket.h"
#include "server/listener.h"
#include "server/server_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace test {

inline constexpr std::string_view TOKEN = "0123456789abcdef0123456789abcdef";

// APPDATA, HOME and USERPROFILE point into a fresh temporary folder for the test's
// lifetime, so the configuration read and written is the test's own.
class TempConfigHome {
public:
    TempConfigHome()
    {
        std::random_device rd;
        m_dir = std::filesystem::temp_directory_path() / ("vano-srv-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(m_dir);
        for (const char* name : {"APPDATA", "HOME", "USERPROFILE"})
            platform::set_env_var(name, m_dir.string());
    }
    ~TempConfigHome()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    [[nodiscard]] const std::filesystem::path& dir() const { return m_dir; }

private:
    std::filesystem::path m_dir;
};

// Every byte until the server closes the connection (or 20 s pass).
inline std::string read_to_end(platform::Socket& conn)
{
    (void)conn.set_recv_timeout(std::chrono::seconds(20));
    std::string reply;
    char buf[8192];
    for (;;) {
        auto n = conn.recv_some(buf, sizeof buf);
        if (!n || *n == 0)
            break;
        reply.append(buf, *n);
    }
    return reply;
}

// Sends `request` on a new connection, ends the sending side, and reads until the
// server closes. Gives every byte received; empty means no reply.
inline std::string round_trip(std::uint16_t port, std::string_view request)
{
    auto conn = platform::connect_loopback(port, std::chrono::seconds(20));
    if (!conn) {
        ADD_FAILURE() << "connect: " << conn.error();
        return {};
    }
    (void)conn->send_all(request); // may fail when the server gives up on a request early
    conn->shutdown_send();
    return read_to_end(*conn);
}

struct SplitReply {
    std::string head; // up to and including the blank line
    std::string body;
};

inline SplitReply split_reply(const std::string& raw)
{
    const std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos)
        return {raw, {}};
    return {raw.substr(0, end + 4), raw.substr(end + 4)};
}

// The accept loop on a thread of its own over a fresh state with the test token;
// `prepare` sets the state up before the loop starts.
class LocalServer {
public:
    explicit LocalServer(std::vector<std::filesystem::path> paths = {}, bool idle_exit = false,
                         server::AcceptLoopTimes times = {},
                         const std::function<void(server::ServerState&)>& prepare = {})
    {
        auto bound = server::bind_local_listener();
        if (!bound)
            throw std::runtime_error(bound.error());
        port = bound->port;
        state = std::make_shared<server::ServerState>(std::string(TOKEN), std::move(paths));
        if (prepare)
            prepare(*state);
        m_stopped = m_done.get_future();
        m_loop = std::thread([this, listener = std::move(bound->listener), s = state, idle_exit, times]() mutable {
            server::accept_loop(std::move(listener), std::move(s), app::routes(), idle_exit, times);
            m_done.set_value();
        });
    }
    ~LocalServer()
    {
        state->request_quit();
        m_loop.join();
    }
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    // True once the accept loop has returned, waiting at most `limit`.
    [[nodiscard]] bool stopped_within(std::chrono::milliseconds limit)
    {
        return m_stopped.wait_for(limit) == std::future_status::ready;
    }

    // An authorised request of `method` to `path` with `body`; the raw reply.
    [[nodiscard]] std::string call(std::string_view method, std::string_view path, std::string_view body = {}) const
    {
        std::string req = std::string(method) + " " + std::string(path) + " HTTP/1.1\r\nX-Local-Token: "
            + std::string(TOKEN) + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
        return round_trip(port, req);
    }

    // The selection once its analysis has caught up with the stored version (60 s at
    // most; a failure is reported and the last view given).
    [[nodiscard]] server::SelectionView settled_selection() const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            auto view = state->selection_view();
            if (view.ready)
                return view;
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the selection's analysis did not finish";
                return view;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::uint16_t port = 0;
    server::SharedState state;

private:
    std::promise<void> m_done;
    std::future<void> m_stopped;
    std::thread m_loop;
};

} // namespace test
