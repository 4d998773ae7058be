#include "uploader/account_routes.h"

// FIXME: the account routes are not built yet; they answer as unknown routes.
namespace uploader {

server::RouteReply handle_login(server::ServerState&, std::string_view)
{
    return {404, server::Json{{"detail", "Not Found"}}};
}

server::RouteReply handle_quota(server::ServerState&)
{
    return {404, server::Json{{"detail", "Not Found"}}};
}

server::RouteReply handle_check_code(server::ServerState&, const std::optional<std::string>&)
{
    return {404, server::Json{{"detail", "Not Found"}}};
}

} // namespace uploader
