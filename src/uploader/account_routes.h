#pragma once
// The local routes that call the remote service's account endpoints. Each makes one
// agent, takes the configuration lock only to copy or replace the configuration, and
// turns every failure into its status and {"detail": message}.

#include "server/route_reply.h"
#include "server/server_state.h"

#include <optional>
#include <string>
#include <string_view>

namespace uploader {

// POST /api/local/login with the request body's bytes: trades the body's `username`
// (sent trimmed) and `password` for an API key, saves the new configuration and then
// puts it in memory. 401 for every failure of the service call, 500 when saving fails.
[[nodiscard]] server::RouteReply handle_login(server::ServerState& state, std::string_view body);

// GET /api/local/quota: the service's account record as it came (200). 401
// {"authenticated": false} without a saved key; 401 with the expiry message when the
// service refuses the key (saved credentials cleared, the in-memory key emptied); 400
// for the other failures.
[[nodiscard]] server::RouteReply handle_quota(server::ServerState& state);

// GET /api/local/check-code with the decoded `code` query value, if any: the service's
// answer on the trimmed code as it came (200), 400 for every failure. Sends no API key.
[[nodiscard]] server::RouteReply handle_check_code(server::ServerState& state, const std::optional<std::string>& code);

} // namespace uploader
