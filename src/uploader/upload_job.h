#pragma once
// The upload job: the body of the detached thread that start-upload starts.

#include "config/desktop_config.h"
#include "config/selection.h"
#include "server/route_reply.h"
#include "server/server_state.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace uploader {

// Packs the selection when needed, streams it to the service, and leaves the outcome in
// the job record that `state` holds when the job writes ("done" with the result and the
// QR code, or "error" with the message), as long as that record is still `job_id`'s; the
// last write frees the job slot. Removes a temporary archive after every outcome (and
// lists it in state.temp_files meanwhile, for the exit path). Returns nothing; runs to its
// end.
void run_upload_job(server::SharedState state, config::DesktopConfig config, config::TargetSummary target,
                    std::vector<std::filesystem::path> paths, std::optional<std::string> custom_code,
                    std::string expiry_option, std::optional<std::string> qr_details, std::uint64_t job_id = 0);

// The service's success reply as an UploadResult, with the defaults for missing or
// mistyped keys (a reply that is not an object gives every default).
[[nodiscard]] server::UploadResult make_upload_result(const server::Json& reply, std::string_view base,
                                                      std::string_view sent_name, std::uint64_t file_size);

} // namespace uploader
