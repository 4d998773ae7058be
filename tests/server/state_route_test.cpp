// The state reply's exact JSON forms, its fallbacks, logout, and replies while the
// counters move.
#include "local_server.h"
#include "support/state_probe.h"

#include "config/desktop_config.h"
#include "server/route_reply.h"

#include <fstream>
#include <regex>

namespace {

using server::Json;

std::string state_body(const test::LocalServer& srv)
{
    return test::split_reply(srv.call("GET", "/api/local/state")).body;
}

// The text of the value of top-level `key` in a compact object, found by the wire order
// (the value runs up to the next top-level key or the end).
std::string raw_member(const std::string& body, std::string_view key, std::string_view next_key)
{
    const std::string open = "\"" + std::string(key) + "\":";
    const std::size_t from = body.find(open);
    if (from == std::string::npos)
        return {};
    const std::size_t start = from + open.size();
    const std::size_t end = next_key.empty() ? body.size() - 1 : body.find(",\"" + std::string(next_key) + "\":", start);
    return body.substr(start, end - start);
}

std::vector<std::string> wire_keys(const std::string& object_text)
{
    std::vector<std::string> keys;
    // ordered_json keeps the keys in the order the text has them.
    const auto parsed = nlohmann::ordered_json::parse(object_text);
    for (const auto& item : parsed.items())
        keys.push_back(item.key());
    return keys;
}

class StateRouteTest : public ::testing::Test {
protected:
    test::TempConfigHome home;
};

TEST_F(StateRouteTest, FreshInstanceInWireOrder)
{
    test::LocalServer srv;
    const std::string body = state_body(srv);
    EXPECT_EQ(wire_keys(body), (std::vector<std::string>{"account", "authenticated", "context_menu_installed", "job",
                                                          "platform", "selection_ready", "selection_version", "success",
                                                          "target"}));
    EXPECT_EQ(raw_member(body, "account", "authenticated"),
              R"({"admin_name":"","org_name":"","role":"","server_url":")" + std::string(config::default_server_url)
                  + R"(","username":""})");
    EXPECT_EQ(raw_member(body, "authenticated", "context_menu_installed"), "false");
    EXPECT_TRUE(std::regex_match(raw_member(body, "context_menu_installed", "job"), std::regex("true|false")));
    EXPECT_EQ(raw_member(body, "job", "platform"),
              R"({"detail_text":"","error":null,"percent":0.0,"phase":"idle","qr_svg":null,"result":null})");
    EXPECT_EQ(raw_member(body, "platform", "selection_ready"), "\"Windows\"");
    EXPECT_EQ(raw_member(body, "selection_ready", "selection_version"), "true");
    EXPECT_EQ(raw_member(body, "selection_version", "success"), "1");
    EXPECT_EQ(raw_member(body, "success", "target"), "true");

    const std::string target = raw_member(body, "target", "");
    EXPECT_EQ(wire_keys(target),
              (std::vector<std::string>{"display_name", "error_message", "file_count", "force_3day_expiry", "item_count",
                                        "kind", "limit_bytes", "limit_mb", "needs_zip", "paths", "raw_bytes",
                                        "suggested_code", "upload_filename", "valid"}));
    EXPECT_NE(target.find(R"("error_message":null,)"), std::string::npos);
    EXPECT_NE(target.find(R"("kind":"empty",)"), std::string::npos);
    EXPECT_NE(target.find(R"("paths":[],)"), std::string::npos);
}

TEST_F(StateRouteTest, JobRecordsAsStored)
{
    test::LocalServer srv;
    struct Case {
        std::string_view name;
        server::JobState job;
        std::string raw;
    };
    server::JobState done;
    done.phase = "done";
    done.percent = 100.0;
    done.detail_text = "업로드 완료";
    done.result = server::UploadResult{"ab12", "https://s.example/ab12", "a.zip", 5'000'000'000, "2026-12-13", "ok"};
    done.qr_svg = "<svg/>";
    server::JobState failed;
    failed.phase = "error";
    failed.percent = 37.5;
    failed.error = "실패: \"x\"";
    server::JobState two_thirds; // a figure that a float would turn into 66.69999694824219
    two_thirds.phase = "error";
    two_thirds.percent = 66.7;
    const Case cases[] = {
        {"done with result", done,
         R"({"detail_text":"업로드 완료","error":null,"percent":100.0,"phase":"done","qr_svg":"<svg/>","result":)"
         R"({"expires_at":"2026-12-13","file_size":5000000000,"message":"ok","original_name":"a.zip",)"
         R"("short_code":"ab12","short_url":"https://s.example/ab12"}})"},
        {"error", failed,
         R"({"detail_text":"","error":"실패: \"x\"","percent":37.5,"phase":"error","qr_svg":null,"result":null})"},
        {"one decimal kept exactly", two_thirds,
         R"({"detail_text":"","error":null,"percent":66.7,"phase":"error","qr_svg":null,"result":null})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        *server::ServerStateProbe::job(*srv.state).lock() = c.job;
        EXPECT_EQ(raw_member(state_body(srv), "job", "platform"), c.raw);
    }
}

TEST_F(StateRouteTest, LiveFiguresComeFromTheCounters)
{
    test::LocalServer srv;
    server::ServerStateProbe::job(*srv.state).lock()->phase = "zipping";
    server::ServerStateProbe::counters(*srv.state).zip_done_bytes->store(52'428'800);
    server::ServerStateProbe::counters(*srv.state).zip_total_bytes->store(104'857'600);
    EXPECT_EQ(raw_member(state_body(srv), "job", "platform"),
              R"j({"detail_text":"자동 ZIP 압축 중... (50.0MB / 100.0MB)","error":null,"percent":50.0,)j"
              R"("phase":"zipping","qr_svg":null,"result":null})");
    // The shared record keeps what was stored.
    EXPECT_EQ(server::ServerStateProbe::job(*srv.state).lock()->percent, 0.0);

    server::ServerStateProbe::job(*srv.state).lock()->phase = "uploading";
    server::ServerStateProbe::counters(*srv.state).upload_sent_bytes->store(10'485'760);
    server::ServerStateProbe::counters(*srv.state).upload_total_bytes->store(20'971'520);
    server::ServerStateProbe::counters(*srv.state).upload_started_ms->store(server::elapsed_ms(srv.state->start_instant()) + 60'000); // later than now
    EXPECT_EQ(raw_member(state_body(srv), "job", "platform"),
              R"j({"detail_text":"서버 전송 중... 10.0MB / 20.0MB (100.0 MB/s)","error":null,"percent":50.0,)j"
              R"("phase":"uploading","qr_svg":null,"result":null})");
}

TEST_F(StateRouteTest, PoisonedLocksGiveTheFallbacks)
{
    const auto file = home.dir() / "a.txt";
    std::ofstream(file) << "hello";
    test::LocalServer srv({file});
    {
        auto cfg = server::ServerStateProbe::config(*srv.state).lock();
        cfg->api_key = "key";
        cfg->username = "kim";
    }
    server::ServerStateProbe::job(*srv.state).lock()->phase = "uploading";
    server::ServerStateProbe::counters(*srv.state).upload_total_bytes->store(10);
    server::ServerStateProbe::counters(*srv.state).upload_sent_bytes->store(5);
    const std::string before = state_body(srv);
    EXPECT_EQ(raw_member(before, "authenticated", "context_menu_installed"), "true");
    EXPECT_NE(raw_member(before, "target", "").find("a.txt"), std::string::npos);
    EXPECT_NE(raw_member(before, "job", "platform").find(R"("percent":50.0)"), std::string::npos);

    server::ServerStateProbe::config(*srv.state).poison_for_test();
    server::ServerStateProbe::poison_selection(*srv.state);
    server::ServerStateProbe::job(*srv.state).poison_for_test();
    const std::string after = state_body(srv);
    EXPECT_EQ(raw_member(after, "authenticated", "context_menu_installed"), "false");
    EXPECT_EQ(raw_member(after, "account", "authenticated"),
              R"({"admin_name":"","org_name":"","role":"","server_url":")" + std::string(config::default_server_url)
                  + R"(","username":""})");
    const std::string target = raw_member(after, "target", "");
    EXPECT_NE(target.find(R"("kind":"empty",)"), std::string::npos);
    EXPECT_NE(target.find(R"("paths":[],)"), std::string::npos);
    EXPECT_EQ(raw_member(after, "job", "platform"),
              R"({"detail_text":"","error":null,"percent":0.0,"phase":"idle","qr_svg":null,"result":null})");
}

config::DesktopConfig logged_in()
{
    config::DesktopConfig cfg = config::DesktopConfig::defaults();
    cfg.server_url = "https://other.example";
    cfg.api_key = "key";
    cfg.username = "kim";
    cfg.org_name = "org";
    cfg.admin_name = "adm";
    cfg.role = "admin";
    return cfg;
}

TEST_F(StateRouteTest, LogoutEmptiesTheCredentialsButKeepsTheRole)
{
    ASSERT_TRUE(config::save_config(logged_in()));
    test::LocalServer srv;
    ASSERT_EQ(server::ServerStateProbe::config(*srv.state).lock().value(), logged_in());
    EXPECT_EQ(test::split_reply(srv.call("POST", "/api/local/logout")).body, R"({"success":true})");
    EXPECT_EQ(raw_member(state_body(srv), "account", "authenticated"),
              R"({"admin_name":"","org_name":"","role":"admin","server_url":"https://other.example","username":""})");
    EXPECT_EQ(server::ServerStateProbe::config(*srv.state).lock()->api_key, "");
    const config::DesktopConfig saved = config::load_config();
    EXPECT_EQ(saved.api_key, "");
    EXPECT_EQ(saved.username, "");
    EXPECT_EQ(saved.role, "");
}

TEST_F(StateRouteTest, LogoutSucceedsWhenTheFileCannotBeWritten)
{
    test::LocalServer srv;
    *server::ServerStateProbe::config(*srv.state).lock() = logged_in();
    // The configuration folder's place is taken by a file.
    const auto blocked = home.dir() / "blocked";
    std::ofstream(blocked) << "x";
    for (const char* name : {"APPDATA", "HOME", "USERPROFILE"})
        platform::set_env_var(name, blocked.string());
    EXPECT_EQ(test::split_reply(srv.call("POST", "/api/local/logout")).body, R"({"success":true})");
    config::DesktopConfig expected = logged_in();
    expected.api_key = expected.username = expected.org_name = expected.admin_name = "";
    EXPECT_EQ(server::ServerStateProbe::config(*srv.state).lock().value(), expected);

    *server::ServerStateProbe::config(*srv.state).lock() = logged_in();
    server::ServerStateProbe::config(*srv.state).poison_for_test();
    EXPECT_EQ(test::split_reply(srv.call("POST", "/api/local/logout")).body, R"({"success":true})");
    EXPECT_EQ(server::ServerStateProbe::config(*srv.state).lock().value(), logged_in()); // memory left alone
}

TEST_F(StateRouteTest, ConcurrentRepliesWhileCountersMove)
{
    test::LocalServer srv;
    constexpr std::uint64_t total = 100ull << 20;
    server::ServerStateProbe::counters(*srv.state).upload_total_bytes->store(total);
    server::ServerStateProbe::job(*srv.state).lock()->phase = "uploading";
    // The job's first figure is in place before any client asks: on a busy machine the
    // job thread may not have run yet when the first replies are built.
    server::ServerStateProbe::counters(*srv.state).upload_sent_bytes->store(total / 2);
    std::atomic<bool> stop{false};
    std::thread job([&] {
        for (std::uint64_t sent = 0; !stop.load(); sent = (sent + 4096) % total)
            server::ServerStateProbe::counters(*srv.state).upload_sent_bytes->store(sent < total / 2 ? total / 2 + sent : total);
    });
    const std::regex detail(R"(서버 전송 중\.\.\. \d+\.\dMB / 100\.0MB \(\d+\.\d MB/s\))");
    std::vector<std::thread> clients;
    std::atomic<int> good{0};
    constexpr int threads = 8, per_thread = 10;
    for (int i = 0; i < threads; ++i)
        clients.emplace_back([&] {
            for (int n = 0; n < per_thread; ++n) {
                const std::string body = state_body(srv);
                const Json value = Json::parse(body, nullptr, false);
                if (value.is_discarded())
                    continue;
                const double pct = value["job"]["percent"].get<double>();
                const std::string text = value["job"]["detail_text"].get<std::string>();
                if (pct >= 50.0 && pct <= 99.5 && std::regex_match(text, detail))
                    ++good;
            }
        });
    for (auto& t : clients)
        t.join();
    stop.store(true);
    job.join();
    EXPECT_EQ(good.load(), threads * per_thread);
}

} // namespace
