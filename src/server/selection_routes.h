#pragma once
// The local routes that change the selection.

#include "server/route_reply.h"
#include "server/server_state.h"

#include <string_view>

namespace server {

// POST /api/local/pick.
[[nodiscard]] RouteReply handle_pick(const SharedState& state, std::string_view body);

// POST /api/local/add-paths.
[[nodiscard]] RouteReply handle_add_paths(const SharedState& state, std::string_view body);

} // namespace server
