// The three routes when the service cannot be reached as it should: nothing listening, a
// reply that never comes, a certificate nobody vouches for, and proxy variables that
// must not be consulted.

#include "uploader/remote_client.h"

#include "account_fixture.h"
#include "support/scratch_dir.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace uploader_test {
namespace {

using namespace std::chrono_literals;

class TransportTest : public AccountRouteTest {
protected:
    struct RouteCall {
        std::string_view name;
        std::function<LocalReply()> call;
        std::uint16_t failure_status;
        std::string failure_prefix; // the base URL goes where "{base}" stands
        std::string service_route;
    };

    std::vector<RouteCall> route_calls() const
    {
        return {
            {"login", [this] { return login(R"({"username":"k","password":"p"})"); }, 401,
             "서버 연결 실패 ({base}): ", "POST /api/desktop/auth"},
            {"quota", [this] { return quota(); }, 400, "네트워크 오류: ", "GET /api/me"},
            {"check-code", [this] { return check_code("abc"); }, 400, "서버 연결 오류: ", "GET /api/check-code"},
        };
    }

    void point_at(const std::string& base)
    {
        auto cfg = memory_config_with_url(base + "/");
        cfg.api_key = "K";
        set_memory_config(cfg);
    }

    // Each route answers its transport failure, naming the base URL where it should.
    void expect_no_reply(const std::string& base)
    {
        for (const auto& route : route_calls()) {
            SCOPED_TRACE(route.name);
            point_at(base);
            const auto before = memory_config();
            std::string prefix = route.failure_prefix;
            if (const auto at = prefix.find("{base}"); at != std::string::npos)
                prefix.replace(at, 6, base);
            expect_detail(route.call(), route.failure_status, {route.name, {}, prefix, true});
            EXPECT_EQ(memory_config(), before);
            EXPECT_EQ(saved_file(), std::nullopt);
        }
    }
};

TEST_F(TransportTest, NothingListening)
{
    expect_no_reply("http://127.0.0.1:1");
}

TEST_F(TransportTest, ReplyThatNeverComes)
{
    // The read time-out is what is tested; connecting may take its time.
    uploader::set_agent_timeouts_for_test(platform::HttpTimeouts{.connect = 20s, .read = 300ms, .write = 300ms});
    json script;
    for (const auto& route : route_calls())
        script[route.service_route] = {{"delay_ms", 10000}};
    service.script(script);
    expect_no_reply(service.url());
    uploader::set_agent_timeouts_for_test(std::nullopt);
    // The service notes a request once it has read it, which on a busy machine may be
    // after the client has already given up on the reply.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (service.requests().size() < route_calls().size() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(service.requests().size(), route_calls().size());
}

TEST_F(TransportTest, SelfSignedCertificateIsRefused)
{
    test_support::StandInService tls(test_support::StandInService::Scheme::https_self_signed);
    expect_no_reply(tls.url());
    EXPECT_TRUE(tls.requests().empty()) << "a request went through the unverified connection";
}

TEST_F(TransportTest, ProxyVariablesAreIgnored)
{
    const std::string dead = "http://127.0.0.1:1";
    test_support::ScopedEnv proxies[] = {
        {"http_proxy", dead},  {"HTTP_PROXY", dead}, {"https_proxy", dead}, {"HTTPS_PROXY", dead},
        {"all_proxy", dead},   {"ALL_PROXY", dead},  {"no_proxy", std::nullopt}, {"NO_PROXY", std::nullopt},
    };
    for (const auto& route : route_calls()) {
        SCOPED_TRACE(route.name);
        point_at(service.url());
        EXPECT_EQ(route.call().status, 200);
    }
    EXPECT_EQ(service.requests().size(), route_calls().size());
}

TEST(AgentSettings, TimeoutsByPurpose)
{
    struct Case {
        bool for_upload;
        std::chrono::milliseconds transfer;
    };
    for (const Case c : {Case{false, 20s}, Case{true, 1200s}}) {
        SCOPED_TRACE(c.for_upload);
        const auto timeouts = uploader::make_agent(c.for_upload).timeouts();
        EXPECT_EQ(timeouts.connect, 15s);
        EXPECT_EQ(timeouts.read, c.transfer);
        EXPECT_EQ(timeouts.write, c.transfer);
    }
}

} // namespace
} // namespace uploader_test
