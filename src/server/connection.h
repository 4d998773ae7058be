#pragma once
// Serving one request on one accepted local connection: the token checks, the lookup in
// the route table it is given, the page, and the one reply.

#include "platform/socket.h"
#include "server/http_reply.h"
#include "server/http_request.h"
#include "server/route.h"
#include "server/server_state.h"

#include <chrono>
#include <optional>
#include <string>

namespace server {

inline constexpr std::string_view PAGE_TOKEN_MARKER = "__VANO_LOCAL_TOKEN__";

// The embedded page with every token marker replaced by `token`.
[[nodiscard]] std::string page_with_token(std::string_view token);

// The reply to a completely read request: the page against the query token, the API
// routes of `routes` against the X-Local-Token header (403 when it differs, 404 when no
// route matches). An authorised request records the activity before it is routed.
[[nodiscard]] HttpReply respond(const HttpRequest& request, const SharedState& state, RouteTable routes);

// After the reply, unread request bytes are read and dropped before closing, so that the
// close does not reset the connection under a reply the peer has not read yet. A peer
// that keeps sending a byte now and then cannot hold the thread past DRAIN_TIME_LIMIT.
inline constexpr std::chrono::milliseconds DRAIN_TIMEOUT{1000};
inline constexpr std::chrono::milliseconds DRAIN_TIME_LIMIT{5000};
inline constexpr std::size_t MAX_DRAIN_BYTES = MAX_BODY_BYTES;

// How long one connection may wait for its peer. The defaults are the product's; tests
// shorten them.
struct ConnectionTimes {
    std::chrono::milliseconds read_wait = RECV_TIMEOUT;       // one read of the request
    std::chrono::milliseconds drain_wait = DRAIN_TIMEOUT;     // one read of the drain
    std::chrono::milliseconds drain_limit = DRAIN_TIME_LIMIT; // the whole drain
};

// The 403 reply of a request whose token is missing or wrong, judged on its head alone;
// nothing when the token is right.
[[nodiscard]] std::optional<HttpReply> refusal(const HttpRequest& head, const ServerState& state);

// Reads one request, which must have arrived whole by `deadline` (REQUEST_TIME_LIMIT
// after the accept, unless a test shortens it), writes its reply from `routes` (none when
// the request could not be read completely in time) and closes the connection. A request
// without the right token is refused as soon as its head is read; its body is never read,
// only drained.
void handle_connection(platform::Socket conn, SharedState state, RouteTable routes, platform::MonoInstant deadline,
                       const ConnectionTimes& times = {});

} // namespace server
