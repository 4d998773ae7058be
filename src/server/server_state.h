#pragma once
// The one state object of a running instance, shared by reference counting between the
// accept loop, the connection threads and the upload job.

#include "config/desktop_config.h"
#include "config/selection.h"
#include "core/guarded.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace server {

using Counter = std::shared_ptr<std::atomic<std::uint64_t>>;

// The service's answer to an upload.
struct UploadResult {
    std::string short_code;
    std::string short_url;
    std::string original_name;
    std::uint64_t file_size = 0;
    std::string expires_at;
    std::string message;

    bool operator==(const UploadResult&) const = default;
};

// The upload job as the page sees it.
struct JobState {
    std::string phase = "idle"; // "idle", "zipping", "uploading", "done", "error"
    double percent = 0.0;
    std::string detail_text;
    std::optional<std::string> error;
    std::optional<UploadResult> result;
    std::optional<std::string> qr_svg;

    // A fresh "idle" record.
    [[nodiscard]] static JobState make_new() { return JobState{}; }
};

using MonoInstant = std::chrono::steady_clock::time_point;

struct ServerState {
    // Analyses `paths`, loads the configuration, then reads the monotonic clock.
    ServerState(std::string token, std::vector<std::filesystem::path> paths);

    const std::string token;
    const MonoInstant start;

    Counter zip_done_bytes;
    Counter zip_total_bytes;
    Counter upload_sent_bytes;
    Counter upload_total_bytes;
    Counter upload_started_ms;

    core::Guarded<std::vector<std::filesystem::path>> paths;
    core::Guarded<config::TargetSummary> target;
    core::Guarded<config::DesktopConfig> config;
    core::Guarded<JobState> job;

    std::atomic<std::uint64_t> last_seen_ms{0};
    std::atomic<bool> page_seen{false};
    std::atomic<bool> quit{false};
};

using SharedState = std::shared_ptr<ServerState>;

// Whole milliseconds from `start` to now on the monotonic clock; 0 when the clock reads
// earlier than `start`.
[[nodiscard]] std::uint64_t elapsed_ms(MonoInstant start);

// Stores elapsed_ms(state.start) into state.last_seen_ms.
void touch_activity(ServerState& state);

} // namespace server
