#pragma once
// The one state object of a running instance, shared by reference counting between the
// accept loop, the connection threads and the upload job.

#include "config/desktop_config.h"
#include "config/selection.h"
#include "core/guarded.h"
#include "platform/clock.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server {

// A progress counter in its own allocation, so that a component can hold it without the
// whole state (the upload's body reader holds upload_sent_bytes).
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

    // True while the phase is "zipping" or "uploading".
    [[nodiscard]] bool is_busy() const { return phase == "zipping" || phase == "uploading"; }

    bool operator==(const JobState&) const = default;
};

using MonoInstant = platform::MonoInstant;

struct ServerState {
    // Analyses `paths`, loads the saved configuration, and only then reads the monotonic
    // clock into `start`. Not movable: share it as SharedState (std::make_shared).
    ServerState(std::string token, std::vector<std::filesystem::path> paths);

    ServerState(const ServerState&) = delete;
    ServerState& operator=(const ServerState&) = delete;

    const std::string token;
    const MonoInstant start;

    const Counter zip_done_bytes;
    const Counter zip_total_bytes;
    const Counter upload_sent_bytes;
    const Counter upload_total_bytes;
    const Counter upload_started_ms;

    core::Guarded<std::vector<std::filesystem::path>> paths;
    core::Guarded<config::TargetSummary> target;
    core::Guarded<config::DesktopConfig> config;
    core::Guarded<JobState> job;

    std::atomic<std::uint64_t> last_seen_ms{0};
    std::atomic<bool> page_seen{false};
    std::atomic<bool> quit{false};

private:
    struct Loaded {
        config::TargetSummary target;
        config::DesktopConfig config;
    };
    [[nodiscard]] static Loaded load(const std::vector<std::filesystem::path>& paths);
    ServerState(std::string token, std::vector<std::filesystem::path>&& paths, Loaded&& loaded);
};

using SharedState = std::shared_ptr<ServerState>;

// Whole milliseconds from `start` to `now` (the fraction dropped); 0 when `now` is
// earlier than `start`.
[[nodiscard]] std::uint64_t elapsed_ms_between(MonoInstant start, MonoInstant now);

// elapsed_ms_between `start` and the monotonic clock now.
[[nodiscard]] std::uint64_t elapsed_ms(MonoInstant start);

// Stores elapsed_ms(state.start) into state.last_seen_ms.
void touch_activity(ServerState& state);

// A reader's copy of the shared selection, target and job: the value under its lock, or
// the fallback (empty list, analysis of the empty list, a fresh idle job) when the lock
// was left by a holder that failed.
[[nodiscard]] std::vector<std::filesystem::path> paths_snapshot(ServerState& state);
[[nodiscard]] config::TargetSummary target_snapshot(ServerState& state);
[[nodiscard]] JobState job_snapshot(ServerState& state);

} // namespace server
