#include "uploader/service_routes.h"

#include "uploader/account_routes.h"
#include "uploader/start_upload.h"

#include <array>

namespace uploader {

using server::HttpRequest;
using server::SharedState;

server::RouteTable service_routes()
{
    static const std::array<server::Route, 4> routes{{
        {"GET", "/api/local/quota", [](const HttpRequest&, const SharedState& s) { return handle_quota(*s); }},
        {"GET", "/api/local/check-code",
         [](const HttpRequest& r, const SharedState& s) { return handle_check_code(*s, server::query_value(r, "code")); }},
        {"POST", "/api/local/login", [](const HttpRequest& r, const SharedState& s) { return handle_login(*s, r.body); }},
        {"POST", "/api/local/start-upload",
         [](const HttpRequest& r, const SharedState& s) { return handle_start_upload(s, r.body); }},
    }};
    return routes;
}

} // namespace uploader
