#pragma once
// The upload job: the body of the detached thread that start-upload starts.

#include "config/desktop_config.h"
#include "config/selection.h"
#include "core/result.h"
#include "server/route_reply.h"
#include "server/server_state.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uploader {

// Packs `paths` when the target needs it (else sends the first), streams the file to the
// service, and leaves the outcome in the job's record while it is still the job's ("done"
// with the result and the QR code, or "error" with the message); the last write frees the
// job slot. Removes a temporary archive after every outcome (and lists it in the job's
// temporary files meanwhile, for the exit path). Returns nothing; runs to its end.
void run_upload_job(server::JobHandle job, config::DesktopConfig config, config::TargetSummary target,
                    std::vector<std::filesystem::path> paths, std::optional<std::string> custom_code,
                    std::string expiry_option, std::optional<std::string> qr_details);

// The done job's detail text when the link went to the clipboard.
inline constexpr std::string_view copied_text = "단축 링크가 클립보드에 자동 복사되었습니다!";

// The done job's detail text when copying the link failed with `why`.
[[nodiscard]] std::string not_copied_text(std::string_view why);

// The error of an upload whose success reply names no link.
inline constexpr std::string_view no_link_message = "서버 응답에 공유 링크가 없습니다.";

// The service's success reply as an UploadResult, with the defaults for missing or
// mistyped keys. The link is `short_url` when that is an http or https URL, else the base
// followed by "/" and a non-empty `short_code`; a reply with neither (also one that is not
// an object) fails with no_link_message.
[[nodiscard]] core::Result<server::UploadResult> make_upload_result(const server::Json& reply, std::string_view base,
                                                                    std::string_view sent_name,
                                                                    std::uint64_t file_size);

} // namespace uploader
