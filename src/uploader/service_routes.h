#pragma once
// The local routes that go through the remote service: the account and the upload start.

#include "server/route.h"

namespace uploader {

// Quota, check-code, login and start-upload.
[[nodiscard]] server::RouteTable service_routes();

} // namespace uploader
