#include "server/server_state.h"

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
      paths(std::move(paths_)),
      target(std::move(loaded.target)),
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

std::vector<std::filesystem::path> paths_snapshot(ServerState& state) { return state.paths.snapshot_or({}); }

config::TargetSummary target_snapshot(ServerState& state)
{
    {
        auto lock = state.target.lock();
        if (!lock.poisoned())
            return lock.value();
    }
    // Analysed after the lock is released: no lock is held across file work.
    return config::analyze_selection({});
}

JobState job_snapshot(ServerState& state) { return state.job.snapshot_or(JobState::make_new()); }

} // namespace server
