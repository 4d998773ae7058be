#pragma once
// Serving one request on one accepted local connection: the token checks, the route
// table, the page, and the one reply.

#include "platform/socket.h"
#include "server/http_reply.h"
#include "server/http_request.h"
#include "server/server_state.h"

#include <string>

namespace server {

inline constexpr std::string_view PAGE_TOKEN_MARKER = "__VANO_LOCAL_TOKEN__";

// The embedded page with every token marker replaced by `token`.
[[nodiscard]] std::string page_with_token(std::string_view token);

// The reply to a completely read request: the page against the query token, the API
// routes against the X-Local-Token header (403 when it differs, 404 when no route
// matches). An authorised request records the activity before it is routed.
[[nodiscard]] HttpReply respond(const HttpRequest& request, const SharedState& state);

// Reads one request, which must have arrived whole by `deadline` (REQUEST_TIME_LIMIT
// after the accept, unless a test shortens it), writes its reply (none when the request
// could not be read completely in time) and closes the connection.
void handle_connection(platform::Socket conn, SharedState state, platform::MonoInstant deadline);

} // namespace server
