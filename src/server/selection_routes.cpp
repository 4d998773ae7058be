#include "server/selection_routes.h"

// FIXME: the selection and upload-start routes are not built yet.
namespace server {

RouteReply handle_pick(const SharedState&, std::string_view) { return {404, Json{{"detail", "Not Found"}}}; }
RouteReply handle_add_paths(const SharedState&, std::string_view) { return {404, Json{{"detail", "Not Found"}}}; }
RouteReply handle_start_upload(const SharedState&, std::string_view) { return {404, Json{{"detail", "Not Found"}}}; }

} // namespace server
