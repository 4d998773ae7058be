#include "server/server_state.h"

#include "platform/fs.h"

#include <chrono>
#include <utility>

namespace server {
namespace {

Counter new_counter() { return std::make_shared<std::atomic<std::uint64_t>>(0); }

} // namespace

ServerState::Loaded ServerState::load(const std::vector<std::filesystem::path>& paths)
{
    // Analysis first, then the configuration: `start` is read after both.
    Loaded loaded{config::analyze_selection(paths), {}};
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
    : token(std::move(token_)),
      start(platform::monotonic_now()),
      zip_done_bytes(new_counter()),
      zip_total_bytes(new_counter()),
      upload_sent_bytes(new_counter()),
      upload_total_bytes(new_counter()),
      upload_started_ms(new_counter()),
      selection(Selection{std::move(paths_), std::move(loaded.target), 0}),
      config(std::move(loaded.config)),
      job(JobState::make_new())
{
}

std::uint64_t elapsed_ms(MonoInstant start) { return elapsed_ms_between(start, platform::monotonic_now()); }

std::uint64_t elapsed_ms_between(MonoInstant start, MonoInstant now)
{
    const auto d = now - start;
    if (d.count() < 0)
        return 0;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

void touch_activity(ServerState& state) { state.last_seen_ms.store(elapsed_ms(state.start)); }

std::vector<std::filesystem::path> paths_snapshot(ServerState& state)
{
    auto lock = state.selection.lock();
    if (lock.poisoned())
        return {};
    return lock->paths;
}

config::TargetSummary target_snapshot(ServerState& state)
{
    {
        auto lock = state.selection.lock();
        if (!lock.poisoned())
            return lock->target;
    }
    // Analysed after the lock is released: no lock is held across file work.
    return config::analyze_selection({});
}

Selection ServerState::selection_snapshot()
{
    {
        auto lock = selection.lock();
        if (!lock.poisoned())
            return lock.value();
    }
    return Selection{{}, config::analyze_selection({}), 0};
}

config::TargetSummary ServerState::replace_selection(std::vector<std::filesystem::path> paths)
{
    auto target = config::analyze_selection(paths);
    {
        auto lock = selection.lock();
        if (!lock.poisoned()) {
            lock->paths = std::move(paths);
            lock->target = target;
            ++lock->generation;
        }
    }
    {
        auto lock = job.lock();
        // A running job keeps its record: the page goes on showing its progress and then
        // its link, and start-upload refuses until it has ended.
        if (!lock.poisoned() && !lock->is_busy() && !job_running())
            lock.value() = JobState::make_new();
    }
    return target;
}

void ServerState::merge_into_selection(const std::vector<std::filesystem::path>& incoming, MergeMode mode)
{
    for (bool stored = false; !stored;) {
        std::vector<std::filesystem::path> current;
        std::uint64_t generation = 0;
        {
            auto lock = selection.lock();
            if (lock.poisoned())
                break;
            if (mode == MergeMode::append)
                current = lock->paths;
            generation = lock->generation;
        }
        auto merged = merge_paths(current, incoming, mode);
        auto target = config::analyze_selection(merged);
        auto lock = selection.lock();
        if (lock.poisoned())
            break;
        // Another change came first: merge onto it instead of overwriting it.
        if (lock->generation != generation)
            continue;
        lock->paths = std::move(merged);
        lock->target = std::move(target);
        ++lock->generation;
        stored = true;
    }
    auto lock = job.lock();
    if (!lock.poisoned() && (lock->phase == "done" || lock->phase == "error"))
        lock.value() = JobState::make_new();
}

void ServerState::begin_quit()
{
    std::call_once(m_quit_once, [this] {
        m_quitting.store(true);
        if (m_quit_hook)
            m_quit_hook();
    });
    quit.store(true);
}

std::optional<std::uint64_t> ServerState::begin_job(const config::TargetSummary& target)
{
    const std::uint64_t id = ++m_last_job_id;
    {
        auto lock = job.lock();
        if (!lock.poisoned() && lock->is_busy())
            return std::nullopt;
        std::uint64_t free = 0;
        if (!m_running_job.compare_exchange_strong(free, id))
            return std::nullopt;
        // Only the job holding the slot writes the counters from here on. They are reset
        // before the phase changes, so no poll shows the last job's figures as this one's.
        const auto total = target.raw_bytes == 0 ? 1 : target.raw_bytes;
        zip_done_bytes->store(0);
        zip_total_bytes->store(total);
        upload_sent_bytes->store(0);
        upload_total_bytes->store(total);
        if (!lock.poisoned()) {
            lock->phase = target.needs_zip ? "zipping" : "uploading";
            lock->percent = 0.0;
            lock->error.reset();
            lock->result.reset();
            lock->qr_svg.reset();
            lock->job_id = id;
        }
    }
    return id;
}

void ServerState::update_job(std::uint64_t job_id, const std::function<void(JobState&)>& change)
{
    auto lock = job.lock();
    if (!lock.poisoned() && lock->job_id == job_id)
        change(lock.value());
}

void ServerState::finish_job(std::uint64_t job_id, const std::function<void(JobState&)>& change)
{
    auto lock = job.lock();
    if (!lock.poisoned() && lock->job_id == job_id)
        change(lock.value());
    release_job(job_id);
}

void ServerState::release_job(std::uint64_t job_id)
{
    std::uint64_t held = job_id;
    (void)m_running_job.compare_exchange_strong(held, 0);
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

JobState job_snapshot(ServerState& state) { return state.job.snapshot_or(JobState::make_new()); }

} // namespace server
