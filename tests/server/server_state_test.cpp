// The shared state as built, and the clock function.
#include "local_server.h"

#include "config/selection.h"

#include <fstream>

namespace {

using namespace std::chrono_literals;

TEST(ServerStateTest, NewStateHoldsTheAnalysisAndIdleValues)
{
    test::TempConfigHome home;
    const auto file = home.dir() / "report.pdf";
    std::ofstream(file) << "%PDF-1.4";
    const std::vector<std::filesystem::path> paths{file, home.dir() / "missing.txt"};
    const auto before = platform::monotonic_now();
    server::ServerState state(std::string(test::TOKEN), paths);

    EXPECT_EQ(state.token, test::TOKEN);
    EXPECT_GE(state.start, before);
    EXPECT_EQ(state.selection.lock()->paths, paths);
    EXPECT_EQ(state.selection.lock()->target, config::analyze_selection(paths));
    EXPECT_EQ(state.config.lock().value(), config::load_config());
    EXPECT_EQ(state.job.lock().value(), server::JobState::make_new());
    EXPECT_EQ(state.job.lock()->phase, "idle");
    for (const auto& c : {state.zip_done_bytes, state.zip_total_bytes, state.upload_sent_bytes,
                          state.upload_total_bytes, state.upload_started_ms})
        EXPECT_EQ(c->load(), 0u);
    EXPECT_EQ(state.last_seen_ms.load(), 0u);
    EXPECT_FALSE(state.page_seen.load());
    EXPECT_FALSE(state.quit.load());
    // Each counter is an allocation of its own.
    EXPECT_NE(state.zip_done_bytes.get(), state.zip_total_bytes.get());
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

TEST(ServerStateTest, JobLockFallbackIsAFreshIdleJob)
{
    test::TempConfigHome home;
    server::ServerState state(std::string(test::TOKEN), {});
    state.job.lock()->phase = "zipping";
    state.selection.lock()->paths.push_back("x");
    state.job.poison_for_test();
    state.selection.poison_for_test();
    EXPECT_EQ(server::job_snapshot(state), server::JobState::make_new());
    EXPECT_TRUE(server::paths_snapshot(state).empty());
}

} // namespace
