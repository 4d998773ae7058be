#pragma once
// The one state object of a running instance, shared by reference counting between the
// accept loop, the connection threads and the upload job.

#include "config/desktop_config.h"
#include "config/path_merge.h"
#include "config/selection.h"
#include "core/guarded.h"
#include "platform/clock.h"
#include "platform/file.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace server {

// The selection's merge rule, as the routes that hand paths over name it.
using config::MergeMode;

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

// The selection as readers see it: the stored paths with their version, and the last
// finished analysis, which describes exactly that version when `ready`.
struct SelectionView {
    std::vector<std::filesystem::path> paths;
    config::TargetSummary target;
    std::vector<std::filesystem::path> items; // what `target` sends or packs
    std::uint64_t version = 0;
    bool ready = false;
};

// The selection's version and whether its analysis is finished.
struct SelectionVersion {
    std::uint64_t version = 0;
    bool ready = false;
};

// How a start request stands against the stored selection.
enum class StartCheck { go, not_ready, changed };

struct StartSelection {
    StartCheck check = StartCheck::go;
    SelectionView selection; // the snapshot a job started now gets
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

// The five progress counters, each in its own allocation.
struct JobCounters {
    Counter zip_done_bytes;
    Counter zip_total_bytes;
    Counter upload_sent_bytes;
    Counter upload_total_bytes;
    Counter upload_started_ms;
};

// The error of a job that no thread could be started for.
inline constexpr std::string_view JOB_NOT_STARTED_MESSAGE = "업로드 작업을 시작할 수 없습니다.";

class ServerState;
using SharedState = std::shared_ptr<ServerState>;

// The one running job's hold on the state: its id and counters, its writes into its
// record, and its slot, which the handle frees itself. A handle dropped before its last
// write (no thread could be started for it) ends the job as "error".
class JobHandle {
public:
    JobHandle(JobHandle&& other) noexcept;
    JobHandle& operator=(JobHandle&&) = delete;
    ~JobHandle();

    [[nodiscard]] std::uint64_t id() const { return m_id; }
    [[nodiscard]] const JobCounters& counters() const;
    [[nodiscard]] JobTempFiles& temp_files() const;
    // elapsed_ms of the state's start.
    [[nodiscard]] std::uint64_t elapsed_ms() const;

    // A write into the job's record; dropped when the record was replaced meanwhile.
    void update(const std::function<void(JobState&)>& change) const;

    // The last write, as update, with the slot freed in the same hold.
    void finish(const std::function<void(JobState&)>& change);

private:
    friend class ServerState;
    JobHandle(SharedState state, std::uint64_t id) : m_state(std::move(state)), m_id(id) {}

    SharedState m_state;
    std::uint64_t m_id = 0;
};

class ServerState : public std::enable_shared_from_this<ServerState> {
public:
    // Analyses `paths` (version 1), loads the saved configuration, and only then reads the
    // monotonic clock into the start instant. Share it as SharedState (std::make_shared):
    // a selection stored later is analysed on a thread that holds the state.
    ServerState(std::string token, std::vector<std::filesystem::path> paths);

    ServerState(const ServerState&) = delete;
    ServerState& operator=(const ServerState&) = delete;

    [[nodiscard]] const std::string& token() const { return m_token; }
    [[nodiscard]] MonoInstant start_instant() const { return m_start; }

    // Activity: the last authorised request, and whether the page has come.
    void touch_activity();
    void mark_page_seen() { m_page_seen.store(true); }
    [[nodiscard]] bool page_seen() const { return m_page_seen.load(); }
    [[nodiscard]] std::uint64_t last_seen_ms() const { return m_last_seen_ms.load(); }

    // Quit, from the quit route or the end of the accept loop: add-paths is refused from
    // here on, then the quit hook runs (once; later callers wait for it), then the quit is
    // requested.
    void request_quit();
    [[nodiscard]] bool quit_requested() const { return m_quit.load(); }
    [[nodiscard]] bool quitting() const { return m_quitting.load(); }
    // Set before the state is shared.
    void set_quit_hook(std::function<void()> hook) { m_quit_hook = std::move(hook); }

    // Credentials. A poisoned lock reads as the defaults and takes no write.
    [[nodiscard]] config::DesktopConfig config_snapshot();
    void replace_config(config::DesktopConfig cfg);
    // Logout: empties api_key, username, org_name and admin_name in memory.
    void forget_account();
    // An expired key: empties api_key alone.
    void forget_api_key();

    // The selection, its version and its last finished analysis from one hold; with a
    // poisoned lock, no paths and the analysis of the empty list, ready.
    [[nodiscard]] SelectionView selection_view();
    [[nodiscard]] SelectionVersion selection_version();
    // True while a stored version still waits for its analysis.
    [[nodiscard]] bool analysis_pending() { return !selection_version().ready; }

    // Pick: analyses `paths` as they are, stores them with that analysis as a new version
    // and gives it. The job record becomes a fresh idle one unless a job is running.
    config::TargetSummary replace_selection(std::vector<std::filesystem::path> paths);

    // Add-paths: stores the merge of `incoming` as a new version at once and leaves its
    // analysis to the one analysis thread (started when none runs). Then clears a job
    // record in "done" or "error".
    void merge_into_selection(const std::vector<std::filesystem::path>& incoming, MergeMode mode);

    // Start-upload: from one hold, whether the stored version is analysed and is `shown`
    // (when given), with the snapshot a job started from it gets.
    [[nodiscard]] StartSelection selection_for_start(std::optional<std::uint64_t> shown);

    // Claims the one job slot, sets the record's first phase for `target` and the
    // counters; nothing while a job runs or the record is zipping or uploading. With a
    // poisoned job lock the record is left alone but the slot still admits one job.
    [[nodiscard]] static std::optional<JobHandle> begin_job(const SharedState& state,
                                                            const config::TargetSummary& target);

    // The job record for the page, with live progress figures while zipping or
    // uploading; a fresh idle record when its lock is poisoned.
    [[nodiscard]] JobState job_view();
    // True while the record is zipping or uploading.
    [[nodiscard]] bool job_busy();
    // True while a job holds the slot.
    [[nodiscard]] bool job_running() const { return m_running_job.load() != 0; }

    // Removes the running job's temporary files and refuses new ones.
    void remove_job_files_at_exit() { m_temp_files.remove_all_at_exit(); }

private:
    friend class JobHandle;
    friend struct ServerStateProbe; // tests

    std::atomic<bool> m_quitting{false};
    std::once_flag m_quit_once;
    std::function<void()> m_quit_hook;

    using ScanStore = std::unordered_map<std::string, config::ItemScan>;

    struct Selection {
        std::vector<std::filesystem::path> paths;
        std::uint64_t version = 1;
        config::TargetSummary target; // of analysed_version
        std::vector<std::filesystem::path> items;
        std::uint64_t analysed_version = 1;
        // Each selected path's own scan, by path identity: a merge rescans only new paths.
        ScanStore scans;
        bool analysing = false; // an analysis thread runs
    };

    struct Loaded {
        config::SelectionAnalysis analysis;
        ScanStore scans;
        config::DesktopConfig config;
    };
    [[nodiscard]] static Loaded load(const std::vector<std::filesystem::path>& paths);
    ServerState(std::string token, std::vector<std::filesystem::path>&& paths, Loaded&& loaded);

    // Analyses with the kept scans, adding the new ones to `found`.
    [[nodiscard]] static config::SelectionAnalysis analyse(const std::vector<std::filesystem::path>& paths,
                                                           const ScanStore& known, ScanStore& found);
    // Keeps the scans of `found` that belong to the stored paths.
    static void keep_scans(Selection& sel, ScanStore&& found);
    // Stores a change, giving its version; drops the scans of paths no longer selected.
    static std::uint64_t store_paths(Selection& sel, std::vector<std::filesystem::path>&& paths);
    // Runs analyses until the stored version's is done.
    void analyse_until_ready();
    void finish_write(std::uint64_t job_id, const std::function<void(JobState&)>& change);
    void release_job(std::uint64_t job_id);

    const std::string m_token;
    const MonoInstant m_start;
    const JobCounters m_counters;

    core::Guarded<Selection> m_selection;
    core::Guarded<config::DesktopConfig> m_config;
    core::Guarded<JobState> m_job;
    JobTempFiles m_temp_files;

    std::atomic<std::uint64_t> m_last_seen_ms{0};
    std::atomic<bool> m_page_seen{false};
    std::atomic<bool> m_quit{false};

    std::atomic<std::uint64_t> m_running_job{0};
    std::atomic<std::uint64_t> m_last_job_id{0};
    // Runs before each analysis of a stored change; tests make analyses slow with it.
    std::function<void()> m_before_analysis;
};

// Whole milliseconds from `start` to `now` (the fraction dropped); 0 when `now` is
// earlier than `start`.
[[nodiscard]] std::uint64_t elapsed_ms_between(MonoInstant start, MonoInstant now);

// elapsed_ms_between `start` and the monotonic clock now.
[[nodiscard]] std::uint64_t elapsed_ms(MonoInstant start);

} // namespace server
