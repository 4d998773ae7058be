#pragma once
// A local API route: the method and path it answers, and the handler that answers them.

#include "server/http_request.h"
#include "server/route_reply.h"
#include "server/server_state.h"

#include <span>
#include <string_view>

namespace server {

using RouteHandler = RouteReply (*)(const HttpRequest&, const SharedState&);

struct Route {
    std::string_view method;
    std::string_view path;
    RouteHandler handler;
};

// Routes looked up by method and path, each pair at most once. A table handed to the
// accept loop outlives it (the tables are static).
using RouteTable = std::span<const Route>;

} // namespace server
