#pragma once
// The routes that the local server answers on its own, without the remote service.

#include "server/route.h"

namespace server {

// State, selection version, heartbeat, logout, install-menu, uninstall-menu, pick,
// add-paths, copy and quit.
[[nodiscard]] RouteTable local_routes();

} // namespace server
