#pragma once
// The loopback listener and the accept loop that serves each connection on a thread.

#include "core/result.h"
#include "platform/socket.h"
#include "server/connection.h"
#include "server/http_request.h"
#include "server/route.h"
#include "server/server_state.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace server {

inline constexpr int LISTEN_BACKLOG = 128;
// Connections served at once. Beyond it new connections wait in the backlog, so that
// the page's requests are delayed, never dropped; with the head capped and the body of a
// refused request never read, this bounds what peers without the token can pin.
inline constexpr std::size_t MAX_CONNECTIONS = 256;

struct LocalListener {
    platform::Listener listener;
    std::uint16_t port = 0;
};

// A non-blocking listener on 127.0.0.1 at a port the system picks. Failure is
// "로컬 공유 서버 포트 바인딩 실패: " or "로컬 포트 조회 실패: " and the system's text.
[[nodiscard]] core::Result<LocalListener> bind_local_listener();

// The accept loop's times and its connection cap. The defaults are the product's; tests
// shorten them.
struct AcceptLoopTimes {
    std::uint64_t no_page_limit_ms = 60'000; // no page yet: since the start or the latest hand-off
    std::uint64_t idle_limit_ms = 12'000;    // since the last authorised request
    std::chrono::milliseconds poll_interval{25};
    std::chrono::milliseconds retry_interval{50}; // after a failed accept
    std::chrono::milliseconds request_limit = REQUEST_TIME_LIMIT; // a whole request, from its accept
    ConnectionTimes connection;
    std::size_t max_connections = MAX_CONNECTIONS;
};

// True when an instance with no busy job has been idle too long: the idle time `now` -
// `last` (0 when `last` is later) past idle_limit_ms once the page has come (`seen`),
// else past no_page_limit_ms. Before the page, `last` is 0 or the latest hand-off, so
// handed paths wait as long for a slow browser as the instance's first paths.
[[nodiscard]] bool idle_time_up(std::uint64_t now, bool seen, std::uint64_t last, const AcceptLoopTimes& times);

// Accepts connections until `quit` is set or, with `idle_exit`, the instance has been
// idle too long (never while a job is zipping or uploading); each connection is served
// from `routes` by handle_connection on a detached thread of its own, at most
// max_connections at once (further ones wait in the backlog until one ends). Closes the
// listener and drops its state reference before it returns.
void accept_loop(platform::Listener listener, SharedState state, RouteTable routes, bool idle_exit);
void accept_loop(platform::Listener listener, SharedState state, RouteTable routes, bool idle_exit,
                 const AcceptLoopTimes& times);

} // namespace server
