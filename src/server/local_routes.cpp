#include "server/local_routes.h"

#include "server/selection_routes.h"
#include "server/state_routes.h"

#include <array>

namespace server {

RouteTable local_routes()
{
    static const std::array<Route, 10> routes{{
        {"GET", "/api/local/state", [](const HttpRequest&, const SharedState& s) { return handle_state(*s); }},
        {"GET", "/api/local/selection-version",
         [](const HttpRequest&, const SharedState& s) { return handle_selection_version(*s); }},
        {"POST", "/api/local/heartbeat", [](const HttpRequest&, const SharedState&) { return handle_heartbeat(); }},
        {"POST", "/api/local/logout", [](const HttpRequest&, const SharedState& s) { return handle_logout(*s); }},
        {"POST", "/api/local/install-menu", [](const HttpRequest&, const SharedState&) { return handle_install_menu(); }},
        {"POST", "/api/local/uninstall-menu",
         [](const HttpRequest&, const SharedState&) { return handle_uninstall_menu(); }},
        {"POST", "/api/local/pick", [](const HttpRequest& r, const SharedState& s) { return handle_pick(s, r.body); }},
        {"POST", "/api/local/add-paths",
         [](const HttpRequest& r, const SharedState& s) { return handle_add_paths(s, r.body); }},
        {"POST", "/api/local/copy", [](const HttpRequest& r, const SharedState&) { return handle_copy(r.body); }},
        {"POST", "/api/local/quit", [](const HttpRequest&, const SharedState& s) { return handle_quit(*s); }},
    }};
    return routes;
}

} // namespace server
