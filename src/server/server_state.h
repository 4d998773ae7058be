#pragma once
// The one state object of a running instance, shared by reference counting between the
// accept loop, the connection threads and the upload job.

#include "config/desktop_config.h"
#include "config/selection.h"
#include "core/guarded.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "server/path_merge.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
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
    // The job that writes this record; 0 for none. Not shown to the page.
    std::uint64_t job_id = 0;

    // A fresh "idle" record.
    [[nodiscard]] static JobState make_new() { return JobState{}; }

    // True while the phase is "zipping" or "uploading".
    [[nodiscard]] bool is_busy() const { return phase == "zipping" || phase == "uploading"; }

    bool operator==(const JobState&) const = default;
};

// The selected paths and the analysis of exactly those paths, stored and copied as one.
struct Selection {
    std::vector<std::filesystem::path> paths;
    config::TargetSummary target;
    std::uint64_t generation = 0; // moves on with every stored change
};

// Temporary files of the running job, which the exit path removes: the job thread has no
// cancel path and ends with the process, which would leave them behind.
class JobTempFiles {
public:
    // Creates `path` for writing and lists it in one hold, so that the exit path cannot
    // miss a file made while it looked. Fails (with the OS text, or once
    // remove_all_at_exit ran) with nothing listed and nothing left at `path`.
    [[nodiscard]] core::Result<platform::File> create(const std::filesystem::path& path);

    // Removes `path` (a failure is ignored) and unlists it.
    void remove(const std::filesystem::path& path);

    // Removes every listed file and refuses later creations. Open handles do not stop it
    // (files are opened with delete sharing); the bytes go when the process ends.
    void remove_all_at_exit();

private:
    std::mutex m_mutex;
    std::vector<std::filesystem::path> m_paths;
    bool m_closing = false;
};

using MonoInstant = platform::MonoInstant;

// Why a request that would start work is refused once the instance is ending.
inline constexpr std::string_view QUITTING_MESSAGE = "프로그램이 종료되는 중입니다.";

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

    core::Guarded<Selection> selection;
    core::Guarded<config::DesktopConfig> config;
    core::Guarded<JobState> job;
    JobTempFiles temp_files;

    std::atomic<std::uint64_t> last_seen_ms{0};
    std::atomic<bool> page_seen{false};
    std::atomic<bool> quit{false};

    // Quit, from the quit route or the end of the accept loop: add-paths is refused from
    // here on, then the quit hook runs (once; later callers wait for it), then `quit` is set.
    void begin_quit();
    [[nodiscard]] bool quitting() const { return m_quitting.load(); }
    // Set before the state is shared.
    void set_quit_hook(std::function<void()> hook) { m_quit_hook = std::move(hook); }

    // Pick: stores `paths` as they are with their analysis (made before any lock) and gives
    // that analysis. The job record becomes a fresh idle one unless a job is running, whose
    // record stays its own until it ends.
    config::TargetSummary replace_selection(std::vector<std::filesystem::path> paths);

    // Add-paths: merges `incoming` into the selection and stores the merge with its
    // analysis. The analysis runs outside the lock; when another change was stored
    // meanwhile, the merge and the analysis are made again on top of it. Then clears a job
    // record in "done" or "error".
    void merge_into_selection(const std::vector<std::filesystem::path>& incoming, MergeMode mode);

    // Paths and target from one hold; with a poisoned lock, no paths and the analysis of
    // the empty list.
    [[nodiscard]] Selection selection_snapshot();

    // Start-upload: claims the one job slot, sets the record's first phase for `target`
    // and the counters, and gives the new job's id; nothing while a job runs or the record
    // is zipping or uploading. With a poisoned job lock the record is left alone but the
    // slot still admits one job at a time.
    [[nodiscard]] std::optional<std::uint64_t> begin_job(const config::TargetSummary& target);

    // A job's write into its record; dropped when the record is not `job_id`'s (it was
    // replaced) or the lock is poisoned.
    void update_job(std::uint64_t job_id, const std::function<void(JobState&)>& change);

    // A job's last write, as update_job, with its slot freed in the same hold.
    void finish_job(std::uint64_t job_id, const std::function<void(JobState&)>& change);

    // Frees the slot if `job_id` still holds it.
    void release_job(std::uint64_t job_id);

    // True while a job thread holds the slot.
    [[nodiscard]] bool job_running() const { return m_running_job.load() != 0; }

private:
    std::atomic<bool> m_quitting{false};
    std::once_flag m_quit_once;
    std::function<void()> m_quit_hook;
    std::atomic<std::uint64_t> m_running_job{0};
    std::atomic<std::uint64_t> m_last_job_id{0};

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
