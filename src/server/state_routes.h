#pragma once
// The local routes for the page's view of the system and the small commands: state,
// heartbeat, quit, logout, install-menu, uninstall-menu and copy.

#include "server/route_reply.h"
#include "server/server_state.h"

#include <string_view>

namespace server {

// GET /api/local/state: configuration, the selection's last finished analysis with its
// version and readiness, and the job with live progress figures, each copied on its own
// (or its fallback); asks the shell whether the menu is installed after every copy.
[[nodiscard]] RouteReply handle_state(ServerState& state);

// GET /api/local/selection-version: the selection's version and readiness, no file work.
[[nodiscard]] RouteReply handle_selection_version(ServerState& state);

// POST /api/local/heartbeat: {"ok": true}.
[[nodiscard]] RouteReply handle_heartbeat();

// POST /api/local/quit: sets the quit flag.
[[nodiscard]] RouteReply handle_quit(ServerState& state);

// POST /api/local/logout: empties the saved credentials (the outcome is ignored) and the
// in-memory api_key, username, org_name and admin_name; always success.
[[nodiscard]] RouteReply handle_logout(ServerState& state);

// POST /api/local/install-menu and /api/local/uninstall-menu.
[[nodiscard]] RouteReply handle_install_menu();
[[nodiscard]] RouteReply handle_uninstall_menu();

// POST /api/local/copy: copies the body's `text` to the clipboard.
[[nodiscard]] RouteReply handle_copy(std::string_view body);

} // namespace server
