#pragma once
// The program's route table: what the local server answers and what goes through the
// remote service, put together.

#include "server/route.h"

namespace app {

// server::local_routes() followed by uploader::service_routes(); built once, lives as long
// as the program.
[[nodiscard]] server::RouteTable routes();

} // namespace app
