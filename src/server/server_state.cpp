#include "server/server_state.h"

#include "config/path_keys.h"
#include "platform/fs.h"
#include "platform/thread.h"
#include "server/progress.h"

#include <chrono>
#include <unordered_set>
#include <utility>

namespace server {
namespace {

Counter new_counter() { return std::make_shared<std::atomic<std::uint64_t>>(0); }

} // namespace

ServerState::Loaded ServerState::load(const std::vector<std::filesystem::path>& paths)
{
    // Analysis first, then the configuration: `start` is read after both.
    Loaded loaded;
    loaded.analysis = analyse(paths, {}, loaded.scans);
    loaded.config = config::load_config();
    return loaded;
}

ServerState::ServerState(std::string token, std::vector<std::filesystem::path> paths)
    : ServerState(std::move(token), std::move(paths), load(paths))
{
}

// Members are built in declaration order, so `start` is read here, after load() ran as
// an argument of the delegating call above.
ServerState::ServerState(std::string token_, std::vector<std::filesystem::path>&& paths_, Loaded&& loaded)
    : m_token(std::move(token_)),
      m_start(platform::monotonic_now()),
      m_counters{new_counter(), new_counter(), new_counter(), new_counter(), new_counter()},
      m_config(std::move(loaded.config)),
      m_job(JobState::make_new())
{
    auto sel = m_selection.lock();
    sel->paths = std::move(paths_);
    sel->target = std::move(loaded.analysis.target);
    sel->items = std::move(loaded.analysis.items);
    keep_scans(sel.value(), std::move(loaded.scans));
}

std::uint64_t elapsed_ms(MonoInstant start) { return elapsed_ms_between(start, platform::monotonic_now()); }

std::uint64_t elapsed_ms_between(MonoInstant start, MonoInstant now)
{
    const auto d = now - start;
    if (d.count() < 0)
        return 0;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

void ServerState::touch_activity() { m_last_seen_ms.store(elapsed_ms(m_start)); }

config::DesktopConfig ServerState::config_snapshot() { return m_config.snapshot_or(config::DesktopConfig::defaults()); }

void ServerState::replace_config(config::DesktopConfig cfg)
{
    auto lock = m_config.lock();
    if (!lock.poisoned())
        lock.value() = std::move(cfg);
}

void ServerState::forget_account()
{
    auto lock = m_config.lock();
    if (lock.poisoned())
        return;
    lock->api_key.clear();
    lock->username.clear();
    lock->org_name.clear();
    lock->admin_name.clear();
}

void ServerState::forget_api_key()
{
    auto lock = m_config.lock();
    if (!lock.poisoned())
        lock->api_key.clear();
}

SelectionView ServerState::selection_view()
{
    {
        auto lock = m_selection.lock();
        if (!lock.poisoned())
            return SelectionView{lock->paths, lock->target, lock->items, lock->version,
                                 lock->analysed_version == lock->version};
    }
    // Analysed after the lock is released: no lock is held across file work.
    return SelectionView{{}, config::analyze_selection({}), {}, 0, true};
}

SelectionVersion ServerState::selection_version()
{
    auto lock = m_selection.lock();
    if (lock.poisoned())
        return SelectionVersion{0, true};
    return SelectionVersion{lock->version, lock->analysed_version == lock->version};
}

config::SelectionAnalysis ServerState::analyse(const std::vector<std::filesystem::path>& paths,
                                               const ScanStore& known, ScanStore& found)
{
    return config::analyze_selection_items(paths, [&](const std::filesystem::path& p) {
        auto key = config::path_key(p);
        if (const auto it = known.find(key); it != known.end())
            return it->second;
        if (const auto it = found.find(key); it != found.end())
            return it->second;
        return found.emplace(std::move(key), config::scan_item(p)).first->second;
    });
}

void ServerState::keep_scans(Selection& sel, ScanStore&& found)
{
    if (found.empty())
        return;
    std::unordered_set<std::string> selected;
    for (const auto& p : sel.paths)
        selected.insert(config::path_key(p));
    for (auto& [key, scan] : found)
        if (selected.contains(key))
            sel.scans.insert_or_assign(key, std::move(scan));
}

std::uint64_t ServerState::store_paths(Selection& sel, std::vector<std::filesystem::path>&& paths)
{
    sel.paths = std::move(paths);
    std::unordered_set<std::string> selected;
    for (const auto& p : sel.paths)
        selected.insert(config::path_key(p));
    std::erase_if(sel.scans, [&](const auto& entry) { return !selected.contains(entry.first); });
    return ++sel.version;
}

config::TargetSummary ServerState::replace_selection(std::vector<std::filesystem::path> paths)
{
    // A pick is the user choosing afresh: every item is scanned as it is now.
    ScanStore found;
    auto analysis = analyse(paths, {}, found);
    {
        auto lock = m_selection.lock();
        if (!lock.poisoned()) {
            const auto version = store_paths(lock.value(), std::move(paths));
            keep_scans(lock.value(), std::move(found));
            lock->target = analysis.target;
            lock->items = std::move(analysis.items);
            lock->analysed_version = version;
        }
    }
    {
        auto lock = m_job.lock();
        // A running job keeps its record: the page goes on showing its progress and then
        // its link, and start-upload refuses until it has ended.
        if (!lock.poisoned() && !lock->is_busy() && !job_running())
            lock.value() = JobState::make_new();
    }
    return std::move(analysis.target);
}

void ServerState::merge_into_selection(const std::vector<std::filesystem::path>& incoming, MergeMode mode)
{
    bool start_runner = false;
    {
        auto lock = m_selection.lock();
        if (lock.poisoned())
            return;
        (void)store_paths(lock.value(), config::merge_paths(lock->paths, incoming, mode));
        start_runner = !lock->analysing;
        lock->analysing = true;
    }
    if (start_runner) {
        // The thread holds the state: it may outlive the accept loop and every request.
        auto self = weak_from_this().lock();
        const bool started =
            self && platform::start_detached_thread([self]() mutable { self->analyse_until_ready(); });
        if (!started)
            analyse_until_ready(); // no thread to be had: the answer waits instead
    }
    auto lock = m_job.lock();
    if (!lock.poisoned() && (lock->phase == "done" || lock->phase == "error"))
        lock.value() = JobState::make_new();
}

void ServerState::request_quit()
{
    std::call_once(m_quit_once, [this] {
        m_quitting.store(true);
        if (m_quit_hook)
            m_quit_hook();
    });
    m_quit.store(true);
}

void ServerState::analyse_until_ready()
{
    for (;;) {
        std::vector<std::filesystem::path> paths;
        std::uint64_t version = 0;
        ScanStore known;
        {
            auto lock = m_selection.lock();
            if (lock.poisoned())
                return;
            if (lock->analysed_version == lock->version) {
                lock->analysing = false;
                return;
            }
            paths = lock->paths;
            version = lock->version;
            known = lock->scans;
        }
        if (m_before_analysis)
            m_before_analysis();
        ScanStore found;
        auto analysis = analyse(paths, known, found);
        auto lock = m_selection.lock();
        if (lock.poisoned())
            return;
        keep_scans(lock.value(), std::move(found));
        // A change stored meanwhile is analysed on the next round, with these scans kept.
        if (lock->version == version) {
            lock->target = std::move(analysis.target);
            lock->items = std::move(analysis.items);
            lock->analysed_version = version;
        }
    }
}

StartSelection ServerState::selection_for_start(std::optional<std::uint64_t> shown)
{
    StartSelection out;
    out.selection = selection_view();
    if (!out.selection.ready)
        out.check = StartCheck::not_ready;
    else if (shown && *shown != out.selection.version)
        out.check = StartCheck::changed;
    return out;
}

std::optional<JobHandle> ServerState::begin_job(const SharedState& state, const config::TargetSummary& target)
{
    ServerState& s = *state;
    const std::uint64_t id = ++s.m_last_job_id;
    {
        auto lock = s.m_job.lock();
        if (!lock.poisoned() && lock->is_busy())
            return std::nullopt;
        std::uint64_t free = 0;
        if (!s.m_running_job.compare_exchange_strong(free, id))
            return std::nullopt;
        // Only the job holding the slot writes the counters from here on. They are reset
        // before the phase changes, so no poll shows the last job's figures as this one's.
        const auto total = target.raw_bytes == 0 ? 1 : target.raw_bytes;
        s.m_counters.zip_done_bytes->store(0);
        s.m_counters.zip_total_bytes->store(total);
        s.m_counters.upload_sent_bytes->store(0);
        s.m_counters.upload_total_bytes->store(total);
        if (!lock.poisoned()) {
            lock->phase = target.needs_zip ? "zipping" : "uploading";
            lock->percent = 0.0;
            lock->error.reset();
            lock->result.reset();
            lock->qr_svg.reset();
            lock->job_id = id;
        }
    }
    return JobHandle(state, id);
}

JobState ServerState::job_view()
{
    JobState job;
    {
        auto lock = m_job.lock();
        if (lock.poisoned())
            return JobState::make_new();
        job = lock.value();
    }
    apply_live_progress(job, m_counters, m_start);
    return job;
}

bool ServerState::job_busy()
{
    auto lock = m_job.lock();
    return !lock.poisoned() && lock->is_busy();
}

void ServerState::finish_write(std::uint64_t job_id, const std::function<void(JobState&)>& change)
{
    auto lock = m_job.lock();
    if (!lock.poisoned() && lock->job_id == job_id)
        change(lock.value());
}

void ServerState::release_job(std::uint64_t job_id)
{
    std::uint64_t held = job_id;
    (void)m_running_job.compare_exchange_strong(held, 0);
}

JobHandle::JobHandle(JobHandle&& other) noexcept : m_state(std::move(other.m_state)), m_id(other.m_id) {}

JobHandle::~JobHandle()
{
    if (m_state)
        finish([](JobState& job) {
            job.phase = "error";
            job.error = std::string(JOB_NOT_STARTED_MESSAGE);
        });
}

const JobCounters& JobHandle::counters() const { return m_state->m_counters; }

JobTempFiles& JobHandle::temp_files() const { return m_state->m_temp_files; }

std::uint64_t JobHandle::elapsed_ms() const { return server::elapsed_ms(m_state->m_start); }

void JobHandle::update(const std::function<void(JobState&)>& change) const { m_state->finish_write(m_id, change); }

void JobHandle::finish(const std::function<void(JobState&)>& change)
{
    if (!m_state)
        return;
    m_state->finish_write(m_id, change);
    m_state->release_job(m_id);
    m_state.reset();
}

core::Result<platform::File> JobTempFiles::create(const std::filesystem::path& path)
{
    std::lock_guard lock(m_mutex);
    if (m_closing)
        return core::fail(std::string(QUITTING_MESSAGE));
    auto file = platform::File::create_write(path);
    if (!file) {
        (void)platform::remove_file(path);
        return std::unexpected(file.error());
    }
    m_paths.push_back(path);
    return file;
}

void JobTempFiles::remove(const std::filesystem::path& path)
{
    std::lock_guard lock(m_mutex);
    (void)platform::remove_file(path);
    std::erase(m_paths, path);
}

void JobTempFiles::remove_all_at_exit()
{
    std::lock_guard lock(m_mutex);
    m_closing = true;
    for (const auto& p : m_paths)
        (void)platform::remove_file(p);
    m_paths.clear();
}

} // namespace server
