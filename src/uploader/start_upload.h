#pragma once
// Starting an upload: the checks of a start, the job slot and the job's thread.

#include "server/route_reply.h"
#include "server/server_state.h"

#include <string_view>

namespace uploader {

// POST /api/local/start-upload: checks the login, the version the page showed and the
// target, takes the job slot for the selection as checked, and runs run_upload_job on a
// detached thread of its own with its own state reference.
[[nodiscard]] server::RouteReply handle_start_upload(const server::SharedState& state, std::string_view body);

} // namespace uploader
