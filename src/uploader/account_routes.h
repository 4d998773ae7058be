#pragma once
// The local routes that call the remote service's account endpoints.

#include "server/route_reply.h"
#include "server/server_state.h"

#include <optional>
#include <string>
#include <string_view>

namespace uploader {

// POST /api/local/login with the request body's bytes.
[[nodiscard]] server::RouteReply handle_login(server::ServerState& state, std::string_view body);

// GET /api/local/quota.
[[nodiscard]] server::RouteReply handle_quota(server::ServerState& state);

// GET /api/local/check-code with the decoded `code` query value, if any.
[[nodiscard]] server::RouteReply handle_check_code(server::ServerState& state, const std::optional<std::string>& code);

} // namespace uploader
