#pragma once
// Reaches into a ServerState for tests: puts the job record, the configuration and the
// counters into the states a case needs, and poisons locks for the fallbacks.

#include "server/server_state.h"

#include <functional>
#include <string>
#include <utility>

namespace server {

struct ServerStateProbe {
    static core::Guarded<JobState>& job(ServerState& s) { return s.m_job; }
    static core::Guarded<config::DesktopConfig>& config(ServerState& s) { return s.m_config; }
    static const JobCounters& counters(ServerState& s) { return s.m_counters; }
    static std::atomic<std::uint64_t>& last_seen_ms(ServerState& s) { return s.m_last_seen_ms; }
    static std::atomic<bool>& page_seen(ServerState& s) { return s.m_page_seen; }
    static void poison_selection(ServerState& s) { s.m_selection.poison_for_test(); }

    // The stored paths as they are, also under a poisoned lock.
    static std::vector<std::filesystem::path> stored_paths(ServerState& s) { return s.m_selection.lock()->paths; }
    // How many top-level scans the selection keeps.
    static std::size_t kept_scans(ServerState& s) { return s.m_selection.lock()->scans.size(); }

    // Runs before each analysis of a stored change; set before the change is stored.
    static void before_analysis(ServerState& s, std::function<void()> hook) { s.m_before_analysis = std::move(hook); }

    static void set_phase(ServerState& s, std::string phase) { s.m_job.lock()->phase = std::move(phase); }
};

} // namespace server

namespace test_support {

// Puts the job record in `phase` with a detail text of its own.
inline void set_phase(server::ServerState& state, std::string phase)
{
    auto job = server::ServerStateProbe::job(state).lock();
    job->phase = std::move(phase);
    job->detail_text = "kept";
}

inline std::string phase_of(server::ServerState& state) { return server::ServerStateProbe::job(state).lock()->phase; }

} // namespace test_support
