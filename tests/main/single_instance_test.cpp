#include "main/single_instance.h"

#include "main/run_main.h"

#include "config/desktop_config.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/socket.h"
#include "platform/unicode.h"
#include "server/listener.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using app::EpochMs;

TEST(SingleInstance, AnnouncementFreshness)
{
    const EpochMs now = 1'765'360'000'000;
    struct Case {
        std::string_view name;
        EpochMs created;
        bool fresh;
    };
    const Case cases[] = {
        {"3500 ms old", now - 3500, true},
        {"3501 ms old", now - 3501, false},
        {"made now", now, true},
        {"in the future", now + 1, true},
        {"far in the future", ~EpochMs{0}, true},
        {"at the epoch", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(app::is_announcement_fresh(c.created, now), c.fresh);
    }
}

TEST(SingleInstance, ClaimStaleness)
{
    const std::uint64_t now = 1'765'360'000'000'000'000;
    const std::int64_t n = static_cast<std::int64_t>(now);
    struct Case {
        std::string_view name;
        std::int64_t modified;
        bool stale;
    };
    const Case cases[] = {
        {"exactly 5 s", n - 5'000'000'000, false},
        {"5 s and 100 ns", n - 5'000'000'100, true},
        {"5 s and 1 ns", n - 5'000'000'001, true},
        {"just made", n, false},
        {"in the future", n + 60'000'000'000, false},
        {"before the epoch", -1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(app::is_claim_stale(c.modified, now), c.stale);
    }
}

class SessionFiles : public ::testing::Test {
protected:
    test_support::ScratchDir m_dir;
    test_support::ScopedEnv m_appdata{"APPDATA", platform::path_to_utf8(m_dir.path())};

    static std::string read(const std::filesystem::path& path)
    {
        auto text = platform::read_file(path);
        return text ? *text : std::string("<missing>");
    }

    static void set_modified_ago(const std::filesystem::path& path, std::chrono::milliseconds ago)
    {
        const auto when = std::chrono::file_clock::now() - ago;
        std::filesystem::last_write_time(path, when);
    }
};

TEST_F(SessionFiles, PathsLieInTheConfigurationFolder)
{
    EXPECT_EQ(app::session_claim_path(), config::config_dir() / "session_claim.lock");
    EXPECT_EQ(app::active_session_path(), config::config_dir() / "active_session.json");
    EXPECT_TRUE(config::config_dir().string().starts_with(m_dir.path().string()));
}

TEST_F(SessionFiles, ClaimIsExclusiveAndStaleClaimsAreRemoved)
{
    ASSERT_FALSE(std::filesystem::exists(config::config_dir()));
    ASSERT_TRUE(app::claim_session());
    EXPECT_EQ(read(app::session_claim_path()), std::to_string(platform::process_id()) + "\n");
    EXPECT_FALSE(app::claim_session());

    struct Case {
        std::string_view name;
        std::chrono::milliseconds age;
        bool claimed;
    };
    const Case cases[] = {
        // Half the stale age: the claim stays fresh however slow the next call is.
        {"fresh claim stays", std::chrono::milliseconds(2500), false},
        {"claim from the future stays", std::chrono::milliseconds(-60000), false},
        {"old claim is replaced", std::chrono::milliseconds(6000), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(app::session_claim_path()) << "999999\n";
        set_modified_ago(app::session_claim_path(), c.age);
        EXPECT_EQ(app::claim_session(), c.claimed);
        const bool ours = read(app::session_claim_path()) == std::to_string(platform::process_id()) + "\n";
        EXPECT_EQ(ours, c.claimed);
    }
    app::release_claim();
    EXPECT_FALSE(std::filesystem::exists(app::session_claim_path()));
    app::release_claim(); // a missing file is fine
}

TEST_F(SessionFiles, PublishReplacesTheAnnouncementAndRetireRemovesOnlyItsOwn)
{
    const auto before = app::now_epoch_ms();
    app::publish_active_session(4242, "tok-a");
    const auto after = app::now_epoch_ms();
    const auto session = app::read_active_session();
    ASSERT_TRUE(session);
    EXPECT_EQ(session->port, 4242);
    EXPECT_EQ(session->token, "tok-a");
    EXPECT_GE(session->created_epoch_ms, before);
    EXPECT_LE(session->created_epoch_ms, after);
    EXPECT_EQ(read(app::active_session_path()),
              "{\"port\":4242,\"token\":\"tok-a\",\"created_epoch_ms\":" + app::u128_to_decimal(session->created_epoch_ms) + "}");
    const auto temp = config::config_dir() / ("active_session." + std::to_string(platform::process_id()) + ".tmp");
    EXPECT_FALSE(std::filesystem::exists(temp));

    app::publish_active_session(4343, "tok-b");
    app::retire_active_session("tok-a"); // a later instance announced itself since
    ASSERT_TRUE(app::read_active_session());
    EXPECT_EQ(app::read_active_session()->token, "tok-b");
    app::retire_active_session("tok-b");
    EXPECT_FALSE(std::filesystem::exists(app::active_session_path()));
    app::retire_active_session("tok-b"); // nothing left to remove
}

TEST_F(SessionFiles, FailedPublishRemovesItsTemporaryFile)
{
    app::publish_active_session(1111, "old");
    // A folder in the session file's place makes the rename fail.
    std::filesystem::remove(app::active_session_path());
    std::filesystem::create_directories(app::active_session_path() / "keep");
    app::publish_active_session(2222, "new");
    const auto temp = config::config_dir() / ("active_session." + std::to_string(platform::process_id()) + ".tmp");
    EXPECT_FALSE(std::filesystem::exists(temp));
    EXPECT_TRUE(std::filesystem::is_directory(app::active_session_path() / "keep"));
    EXPECT_FALSE(app::read_active_session());
}

// How long a late reply waits for the client to give up on it: far past the hand-off's
// read time-out, so that a client woken late on a busy machine still gives up first.
constexpr std::chrono::seconds late_reply_wait{3};

// Accepts one connection, reads one request with its body and answers `reply` (nothing at
// all when `reply` is empty); with `late`, only once the client has hung up or
// late_reply_wait has passed. Gives the request's raw bytes, or "<no connection>" when
// none came within 20 s or by the time `stop` was set.
std::string serve_once(platform::Listener& listener, const std::string& reply, bool late,
                       const std::atomic<bool>* stop = nullptr)
{
    platform::AcceptOutcome got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((got = listener.accept()).status != platform::AcceptStatus::accepted) {
        if (std::chrono::steady_clock::now() > deadline || (stop != nullptr && stop->load()))
            return "<no connection>";
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    (void)got.connection.set_recv_timeout(std::chrono::seconds(20));
    std::string raw;
    char buffer[4096];
    for (;;) {
        const auto head_end = raw.find("\r\n\r\n");
        if (head_end != std::string::npos) {
            const auto cl = raw.find("Content-Length: ");
            const std::size_t length = cl == std::string::npos ? 0 : std::stoul(raw.substr(cl + 16));
            if (raw.size() >= head_end + 4 + length)
                break;
        }
        const auto n = got.connection.recv_some(buffer, sizeof buffer);
        if (!n || *n == 0)
            break;
        raw.append(buffer, *n);
    }
    if (late) {
        (void)got.connection.set_recv_timeout(late_reply_wait);
        (void)got.connection.recv_some(buffer, sizeof buffer); // the end of the stream, or the wait's end
    }
    if (!reply.empty())
        (void)got.connection.send_all(reply);
    return raw;
}

TEST(Handoff, SendsThePathsAndCountsOnlyAPromptStatus200)
{
    struct Case {
        std::string_view name;
        std::string reply;
        bool late; // held until the client hangs up (or late_reply_wait)
        bool accepted;
    };
    const std::string tail = "Content-Length: 2\r\nConnection: close\r\n\r\n{}";
    // "{other}" stands for the port of a second server, which answers 200 to anything.
    const std::string to_other = "Location: http://127.0.0.1:{other}/api/local/add-paths\r\n";
    const Case cases[] = {
        {"200", "HTTP/1.1 200 OK\r\n" + tail, false, true},
        {"204", "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n", false, false},
        {"302 without a target", "HTTP/1.1 302 Found\r\n" + tail, false, false},
        {"302 to a server that answers 200", "HTTP/1.1 302 Found\r\n" + to_other + tail, false, false},
        {"307 to a server that answers 200", "HTTP/1.1 307 Temporary Redirect\r\n" + to_other + tail, false, false},
        {"308 to a server that answers 200", "HTTP/1.1 308 Permanent Redirect\r\n" + to_other + tail, false, false},
        {"403", "HTTP/1.1 403 Forbidden\r\n" + tail, false, false},
        {"503 from an instance that is quitting", "HTTP/1.1 503 Service Unavailable\r\n" + tail, false, false},
        {"200 after the read time-out", "HTTP/1.1 200 OK\r\n" + tail, true, false},
        {"closed without a reply", "", false, false},
    };
    const std::vector<std::filesystem::path> paths{platform::path_from_utf8("C:\\d\\\xED\x95\x9C.txt"),
                                                   platform::path_from_utf8("b \"q\".txt")};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto listener = platform::Listener::open_loopback(0, 8);
        ASSERT_TRUE(listener);
        ASSERT_TRUE(listener->set_nonblocking());
        const auto port = listener->local_port();
        ASSERT_TRUE(port);
        auto other = platform::Listener::open_loopback(0, 8);
        ASSERT_TRUE(other);
        ASSERT_TRUE(other->set_nonblocking());
        const auto other_port = other->local_port();
        ASSERT_TRUE(other_port);
        std::string reply = c.reply;
        if (const auto at = reply.find("{other}"); at != std::string::npos)
            reply.replace(at, 7, std::to_string(*other_port));

        std::string raw, other_raw;
        std::atomic<bool> done{false};
        std::thread server([&] { raw = serve_once(*listener, reply, c.late); });
        std::thread other_server(
            [&] { other_raw = serve_once(*other, "HTTP/1.1 200 OK\r\n" + tail, false, &done); });
        const bool accepted = app::notify_running_instance(app::ActiveSession{*port, "tok\"en", 0}, paths);
        done = true;
        server.join();
        other_server.join();
        EXPECT_EQ(accepted, c.accepted);
        // The paths go to the announced port or nowhere.
        EXPECT_EQ(other_raw, "<no connection>");
        EXPECT_TRUE(raw.starts_with("POST /api/local/add-paths HTTP/1.1\r\n")) << raw;
        EXPECT_NE(raw.find("\r\nX-Local-Token: tok\"en\r\n"), std::string::npos) << raw;
        EXPECT_NE(raw.find("\r\nContent-Type: application/json\r\n"), std::string::npos) << raw;
        EXPECT_EQ(raw.find("chunked"), std::string::npos) << raw;
        const std::string body = "{\"paths\":[\"C:\\\\d\\\\\xED\x95\x9C.txt\",\"b \\\"q\\\".txt\"],\"replace\":false}";
        EXPECT_NE(raw.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos) << raw;
        EXPECT_TRUE(raw.ends_with("\r\n\r\n" + body)) << raw;
    }
}

TEST(SingleInstance, AnnouncementsThatCountWhileWaiting)
{
    const EpochMs now = 1'765'360'000'000;
    struct Case {
        std::string_view name;
        EpochMs created;
        EpochMs claim_taken;
        bool counts;
    };
    const Case cases[] = {
        {"an hour old, claim just taken", now - 3'600'000, now, false},
        {"no longer fresh, made before the claim", now - 3'501, now - 3'000, false},
        {"no longer fresh, made as the claim was taken", now - 4'000, now - 4'000, true},
        {"no longer fresh, made after the claim", now - 4'000, now - 4'500, true},
        {"fresh, made before the claim", now - 3'500, now, true},
        {"made in the future", now + 10, now, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(app::counts_while_waiting(c.created, now, c.claim_taken), c.counts);
    }
}

TEST_F(SessionFiles, WaitingNewcomerHandsOnlyToAnAnnouncementMadeSinceTheClaim)
{
    // Another local server on the announced port answers 200 to anything, as a program
    // that took the port of an instance that has gone would.
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}";
    struct Case {
        std::string_view name;
        std::chrono::milliseconds claim_age;
        std::chrono::milliseconds announcement_age;
        bool handed;
    };
    using std::chrono::milliseconds;
    const Case cases[] = {
        {"an hour-old announcement", milliseconds(0), milliseconds(3'600'000), false},
        {"stale, made before the claim", milliseconds(1'000), milliseconds(4'000), false},
        {"stale, made after the claim", milliseconds(4'500), milliseconds(4'000), true},
        {"fresh", milliseconds(0), milliseconds(500), true},
    };
    const std::vector<std::filesystem::path> paths{m_dir.path()};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto stranger = server::bind_local_listener();
        ASSERT_TRUE(stranger) << stranger.error();
        std::filesystem::create_directories(config::config_dir());
        std::ofstream(app::session_claim_path()) << "999999\n";
        set_modified_ago(app::session_claim_path(), c.claim_age);
        const app::ActiveSession old{stranger->port, "old-token", app::now_epoch_ms() - c.announcement_age.count()};
        ASSERT_TRUE(platform::write_file(app::active_session_path(), app::serialize_active_session(old)));

        std::string raw;
        std::atomic<bool> done{false};
        std::thread answering([&] { raw = serve_once(stranger->listener, ok, false, &done); });
        const bool handed = app::wait_for_running_instance(paths);
        done = true;
        answering.join();
        EXPECT_EQ(handed, c.handed);
        if (c.handed)
            EXPECT_TRUE(raw.starts_with("POST /api/local/add-paths ")) << raw;
        else
            EXPECT_EQ(raw, "<no connection>");
        app::release_claim();
    }
}

TEST_F(SessionFiles, WaitingNewcomerMakesOneHandOffEachRoundAndNoMore)
{
    // An announced instance that refuses every hand-off, while another process holds the
    // claim: the newcomer asks once a round until the rounds run out.
    auto refusing = server::bind_local_listener();
    ASSERT_TRUE(refusing) << refusing.error();
    std::filesystem::create_directories(config::config_dir());
    std::ofstream(app::session_claim_path()) << "999999\n";
    const app::ActiveSession announced{refusing->port, "tok", app::now_epoch_ms()};
    ASSERT_TRUE(platform::write_file(app::active_session_path(), app::serialize_active_session(announced)));

    const std::string refusal = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}";
    int requests = 0;
    std::atomic<bool> done{false};
    std::thread answering([&] {
        while (serve_once(refusing->listener, refusal, false, &done) != "<no connection>")
            ++requests;
    });
    EXPECT_FALSE(app::wait_for_running_instance({m_dir.path()}));
    done = true;
    answering.join();
    EXPECT_EQ(requests, app::CLAIM_RETRY_ROUNDS);
    app::release_claim();
}

core::Result<server::LocalListener> failing_listener() { return core::fail("bind refused for the test"); }

TEST_F(SessionFiles, AClaimantLooksForAnAnnouncedInstanceAgainOnceItHoldsTheClaim)
{
    // The instance refuses the first look and takes the second, as an instance that
    // announced itself and released its claim just before ours would be found.
    auto instance = server::bind_local_listener();
    ASSERT_TRUE(instance) << instance.error();
    const app::ActiveSession announced{instance->port, "tok", app::now_epoch_ms() + 600'000};
    std::filesystem::create_directories(config::config_dir());
    ASSERT_TRUE(platform::write_file(app::active_session_path(), app::serialize_active_session(announced)));

    const std::string tail = "Content-Length: 2\r\nConnection: close\r\n\r\n{}";
    std::vector<std::string> requests;
    std::atomic<bool> done{false};
    std::thread answering([&] {
        for (const std::string status : {"503 Service Unavailable", "200 OK"}) {
            auto raw = serve_once(instance->listener, "HTTP/1.1 " + status + "\r\n" + tail, false, &done);
            if (raw == "<no connection>")
                return;
            requests.push_back(std::move(raw));
        }
    });
    // The listener would fail: only a hand-off ends the run with 0.
    EXPECT_EQ(app::run_main({platform::path_to_utf8(m_dir.path())}, failing_listener), 0);
    done = true;
    answering.join();
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(app::session_claim_path()));
    EXPECT_EQ(app::read_active_session(), announced);
}

TEST_F(SessionFiles, HandoffNeedsAFreshAnnouncementThatAnswers)
{
    const std::vector<std::filesystem::path> paths{m_dir.path()};
    EXPECT_FALSE(app::handoff_to_fresh_session(paths)); // no session file
    // A fresh announcement whose port nobody answers.
    app::publish_active_session(1, "tok");
    EXPECT_FALSE(app::handoff_to_fresh_session(paths));
}

} // namespace
