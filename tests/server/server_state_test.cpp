// The shared state as built, and the clock function.
#include "local_server.h"
#include "support/state_probe.h"

#include "config/selection.h"

#include <fstream>

namespace {

using namespace std::chrono_literals;
using Probe = server::ServerStateProbe;

TEST(ServerStateTest, NewStateHoldsTheAnalysisAndIdleValues)
{
    test::TempConfigHome home;
    const auto file = home.dir() / "report.pdf";
    std::ofstream(file) << "%PDF-1.4";
    const std::vector<std::filesystem::path> paths{file, home.dir() / "missing.txt"};
    const auto before = platform::monotonic_now();
    server::ServerState state(std::string(test::TOKEN), paths);

    EXPECT_EQ(state.token(), test::TOKEN);
    EXPECT_GE(state.start_instant(), before);
    const auto selection = state.selection_view();
    EXPECT_EQ(selection.paths, paths);
    EXPECT_EQ(selection.target, config::analyze_selection(paths));
    EXPECT_EQ(selection.version, 1u);
    EXPECT_TRUE(selection.ready);
    EXPECT_EQ(state.config_snapshot(), config::load_config());
    EXPECT_EQ(Probe::job(state).lock().value(), server::JobState::make_new());
    EXPECT_EQ(Probe::job(state).lock()->phase, "idle");
    const auto& n = Probe::counters(state);
    for (const auto& c : {n.zip_done_bytes, n.zip_total_bytes, n.upload_sent_bytes, n.upload_total_bytes,
                          n.upload_started_ms})
        EXPECT_EQ(c->load(), 0u);
    EXPECT_EQ(state.last_seen_ms(), 0u);
    EXPECT_FALSE(state.page_seen());
    EXPECT_FALSE(state.quit_requested());
    // Each counter is an allocation of its own.
    EXPECT_NE(n.zip_done_bytes.get(), n.zip_total_bytes.get());
}

TEST(ServerStateTest, ElapsedMillisecondsDropTheFractionAndNeverWrap)
{
    const auto t0 = platform::monotonic_now();
    struct Case {
        std::string_view name;
        std::chrono::nanoseconds offset; // now - start
        std::uint64_t ms;
    };
    const Case cases[] = {
        {"same instant", 0ns, 0},
        {"1.999 ms", 1'999'999ns, 1},
        {"2 ms", 2ms, 2},
        {"12.0005 s", 12'000'500us, 12'000},
        {"start in the future", -5ms, 0},
        {"start just ahead", -1ns, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(server::elapsed_ms_between(t0, t0 + c.offset), c.ms);
    }
}

TEST(ServerStateTest, PoisonedLocksFallBack)
{
    test::TempConfigHome home;
    server::ServerState state(std::string(test::TOKEN), {});
    Probe::job(state).lock()->phase = "zipping";
    Probe::config(state).lock()->api_key = "held";
    state.merge_into_selection({home.dir()}, server::MergeMode::append);
    Probe::job(state).poison_for_test();
    Probe::config(state).poison_for_test();
    Probe::poison_selection(state);
    EXPECT_EQ(state.job_view(), server::JobState::make_new());
    EXPECT_FALSE(state.job_busy());
    EXPECT_EQ(state.config_snapshot(), config::DesktopConfig::defaults());
    const auto selection = state.selection_view();
    EXPECT_TRUE(selection.paths.empty());
    EXPECT_EQ(selection.target, config::analyze_selection({}));
    EXPECT_TRUE(selection.ready);

    // Writers leave a poisoned value alone.
    const auto stored = Probe::stored_paths(state);
    state.merge_into_selection({home.dir() / "."}, server::MergeMode::replace);
    EXPECT_EQ(Probe::stored_paths(state), stored);
    state.replace_config(config::DesktopConfig::defaults());
    EXPECT_EQ(Probe::config(state).lock()->api_key, "held");
}

// A job handle frees the one slot itself: dropped before its last write, as when no
// thread could be started for it, it also ends the record as "error".
TEST(ServerStateTest, JobHandleFreesTheSlot)
{
    test::TempConfigHome home;
    auto state = std::make_shared<server::ServerState>(std::string(test::TOKEN), std::vector<std::filesystem::path>{});
    const auto target = config::analyze_selection({});
    {
        auto job = server::ServerState::begin_job(state, target);
        ASSERT_TRUE(job);
        EXPECT_TRUE(state->job_running());
        EXPECT_EQ(state->job_view().phase, "uploading");
        EXPECT_FALSE(server::ServerState::begin_job(state, target)) << "one job at a time";
    }
    EXPECT_FALSE(state->job_running());
    const auto dropped = state->job_view();
    EXPECT_EQ(dropped.phase, "error");
    EXPECT_EQ(dropped.error, std::string(server::JOB_NOT_STARTED_MESSAGE));

    auto job = server::ServerState::begin_job(state, target);
    ASSERT_TRUE(job);
    job->finish([](server::JobState& record) { record.phase = "done"; });
    EXPECT_FALSE(state->job_running());
    { auto moved = std::move(*job); }
    EXPECT_EQ(state->job_view().phase, "done") << "a finished job's handle writes nothing more";
}

} // namespace
