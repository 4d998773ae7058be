// The listener and the accept loop's quit and idle rules, with shortened idle times.
#include "local_server.h"
#include "support/state_probe.h"

#include "platform/unicode.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <future>

#include "platform/unicode.h"
#include "server/selection_routes.h"
#include "server/state_routes.h"

namespace {

using namespace std::chrono_literals;

TEST(IdleRuleTest, LimitsArePassedOnlyWhenExceeded)
{
    const server::AcceptLoopTimes times; // the product's 60 s and 12 s
    struct Case {
        std::string_view name;
        std::uint64_t now;
        bool seen;
        std::uint64_t last;
        bool up;
    };
    const Case cases[] = {
        {"no request, at 60 s", 60'000, false, 0, false},
        {"no request, past 60 s", 60'001, false, 0, true},
        {"hand-off just now, no page yet", 60'001, false, 60'001, false},
        {"60 s after the latest hand-off, no page yet", 70'000, false, 10'000, false},
        {"60.001 s after the latest hand-off, no page yet", 70'001, false, 10'000, true},
        {"hand-off at 0.5 s, no page 12.6 s later", 12'600, false, 500, false},
        {"12 s after the last request", 13'000, true, 1'000, false},
        {"12.001 s after the last request", 13'001, true, 1'000, true},
        {"request recorded after now was read", 100'000, true, 100'005, false},
        {"seen early, past 60 s but recent", 70'000, true, 65'000, false},
        {"seen at 0, past 12 s", 12'001, true, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(server::idle_time_up(c.now, c.seen, c.last, times), c.up);
    }
}

server::AcceptLoopTimes short_times(std::uint64_t no_page_ms, std::uint64_t idle_ms)
{
    server::AcceptLoopTimes t;
    t.no_page_limit_ms = no_page_ms;
    t.idle_limit_ms = idle_ms;
    return t;
}

class AcceptLoopTest : public ::testing::Test {
protected:
    test::TempConfigHome home;
};

TEST_F(AcceptLoopTest, EndsWhenNoRequestCameInTime)
{
    test::LocalServer srv({}, true, short_times(300, 100'000));
    EXPECT_TRUE(srv.stopped_within(10s));
    EXPECT_GE(server::elapsed_ms(srv.state->start_instant()), 300u);
    // The listener is closed with the loop.
    EXPECT_FALSE(platform::connect_loopback(srv.port, 2s));
}

TEST_F(AcceptLoopTest, RequestsKeepItAliveUntilTheyStop)
{
    // Limits many times the gap between heartbeats, so that a slow heartbeat on a busy
    // machine does not end it early.
    test::LocalServer srv({}, true, short_times(2'000, 3'000));
    // Heartbeats for three times the no-request limit keep it running.
    const auto until = std::chrono::steady_clock::now() + 6s;
    while (std::chrono::steady_clock::now() < until) {
        EXPECT_NE(srv.call("POST", "/api/local/heartbeat"), "");
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(srv.stopped_within(0ms));
    const std::uint64_t last = server::ServerStateProbe::last_seen_ms(*srv.state).load();
    EXPECT_TRUE(srv.stopped_within(10s));
    EXPECT_GT(server::elapsed_ms(srv.state->start_instant()), last + 3'000);
}

TEST_F(AcceptLoopTest, RefusedRequestsDoNotKeepItAlive)
{
    // Counted as activity they would switch it to the idle limit, which is never reached.
    // The no-request limit leaves the refused requests time to arrive on a busy machine.
    test::LocalServer srv({}, true, short_times(3'000, 100'000));
    for (int i = 0; i < 2; ++i) {
        (void)test::round_trip(srv.port, "POST /api/local/heartbeat HTTP/1.1\r\nX-Local-Token: wrong\r\n\r\n");
        (void)test::round_trip(srv.port, "GET /?token=wrong HTTP/1.1\r\n\r\n");
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(srv.stopped_within(10s));
    EXPECT_FALSE(server::ServerStateProbe::page_seen(*srv.state).load());
}

TEST_F(AcceptLoopTest, AHandOffWaitsForThePageAsLongAsTheFirstPaths)
{
    // The idle limit far below the no-page limit: were the hand-off taken for the page, the
    // loop would end a moment after it. The no-page limit leaves a slow machine time to
    // deliver the hand-off and look again well before it passes.
    test::LocalServer srv({}, true, short_times(6'000, 100));
    const auto reply = test::split_reply(srv.call("POST", "/api/local/add-paths", R"({"paths":[],"replace":false})"));
    ASSERT_TRUE(reply.head.starts_with("HTTP/1.1 200 ")) << reply.head << reply.body;
    const std::uint64_t handed = server::ServerStateProbe::last_seen_ms(*srv.state).load();
    EXPECT_FALSE(server::ServerStateProbe::page_seen(*srv.state).load());
    EXPECT_FALSE(srv.stopped_within(1'500ms));
    EXPECT_TRUE(srv.stopped_within(20s));
    EXPECT_GT(server::elapsed_ms(srv.state->start_instant()), handed + 6'000);
}

TEST_F(AcceptLoopTest, NeverEndsForIdlenessWhileAJobIsBusy)
{
    // Busy before the loop's first pass, however late the test thread gets to run.
    test::LocalServer srv({}, true, short_times(100, 100),
                          [](server::ServerState& state) { server::ServerStateProbe::job(state).lock()->phase = "zipping"; });
    for (const char* phase : {"zipping", "uploading"}) {
        SCOPED_TRACE(phase);
        server::ServerStateProbe::job(*srv.state).lock()->phase = phase;
        EXPECT_FALSE(srv.stopped_within(600ms));
    }
    server::ServerStateProbe::job(*srv.state).lock()->phase = "done";
    EXPECT_TRUE(srv.stopped_within(10s));
}

// A hand-off whose analysis is still running is a selection the page has yet to show.
TEST_F(AcceptLoopTest, NeverEndsForIdlenessWhileAnAnalysisRuns)
{
    std::promise<void> go;
    std::shared_future<void> gate = go.get_future().share();
    test::LocalServer srv({}, true, short_times(100, 100), [&](server::ServerState& state) {
        server::ServerStateProbe::before_analysis(state, [gate] { (void)gate.wait_for(60s); });
    });
    const auto file = home.dir() / "a.pdf";
    std::ofstream(file) << "a";
    const auto body = nlohmann::json{{"paths", {platform::path_to_utf8(file)}}}.dump();
    ASSERT_NE(srv.call("POST", "/api/local/add-paths", body).find(" 200 "), std::string::npos);
    EXPECT_FALSE(srv.stopped_within(600ms));
    go.set_value();
    EXPECT_TRUE(srv.stopped_within(10s));
}

TEST_F(AcceptLoopTest, APoisonedJobLockCountsAsNotBusy)
{
    test::LocalServer srv({}, true, short_times(200, 200));
    server::ServerStateProbe::job(*srv.state).lock()->phase = "uploading";
    server::ServerStateProbe::job(*srv.state).poison_for_test();
    EXPECT_TRUE(srv.stopped_within(10s));
}

TEST_F(AcceptLoopTest, WithoutIdleExitOnlyQuitEndsIt)
{
    test::LocalServer srv({}, false, short_times(50, 50));
    EXPECT_FALSE(srv.stopped_within(600ms));
    EXPECT_EQ(srv.call("POST", "/api/local/quit"),
              "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: 16\r\n"
              "Cache-Control: no-store\r\nConnection: close\r\n\r\n{\"success\":true}");
    EXPECT_TRUE(srv.stopped_within(10s));
    EXPECT_FALSE(platform::connect_loopback(srv.port, 2s));
}

TEST_F(AcceptLoopTest, AnEndingInstanceWithdrawsItsAnnouncementFirstAndTakesNoHandOff)
{
    struct Case {
        std::string_view name;
        bool by_quit; // else it ends for idleness
    };
    const Case cases[] = {{"quit route", true}, {"idle exit", false}};
    const std::string hand_off =
        server::Json{{"paths", {platform::path_to_utf8(home.dir())}}, {"replace", false}}.dump();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> withdrawn{0};
        std::atomic<bool> refusing_when_withdrawn{false};
        test::LocalServer srv({}, !c.by_quit, short_times(300, 300), [&](server::ServerState& state) {
            state.set_quit_hook([&, s = &state] {
                refusing_when_withdrawn = s->quitting();
                ++withdrawn;
            });
        });
        if (c.by_quit) {
            EXPECT_EQ(test::split_reply(srv.call("POST", "/api/local/quit")).body, "{\"success\":true}");
            EXPECT_EQ(withdrawn.load(), 1) << "the quit was answered before the announcement went";
        }
        EXPECT_TRUE(srv.stopped_within(10s));
        EXPECT_TRUE(refusing_when_withdrawn.load());

        const auto refused = server::handle_add_paths(srv.state, hand_off);
        EXPECT_EQ(refused.status, 503);
        EXPECT_EQ(refused.body, (server::Json{{"detail", "프로그램이 종료되는 중입니다."}}));
        EXPECT_EQ(srv.state->selection_view().paths, std::vector<std::filesystem::path>{});
        (void)server::handle_quit(*srv.state); // a second quit withdraws nothing more
        EXPECT_EQ(withdrawn.load(), 1);
    }
}

TEST_F(AcceptLoopTest, TwoListenersGetTwoPorts)
{
    auto a = server::bind_local_listener();
    auto b = server::bind_local_listener();
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    EXPECT_NE(a->port, 0);
    EXPECT_NE(a->port, b->port);
}

TEST_F(AcceptLoopTest, ABurstOfConnectionsIsServedInParallel)
{
    test::LocalServer srv;
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int i = 0; i < 32; ++i)
        clients.emplace_back([&] {
            if (test::split_reply(srv.call("POST", "/api/local/heartbeat")).body == "{\"ok\":true}")
                ++answered;
        });
    for (auto& t : clients)
        t.join();
    EXPECT_EQ(answered.load(), 32);
}

} // namespace
