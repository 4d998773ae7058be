#include "account_fixture.h"
#include "support/state_probe.h"

#include <string>

namespace uploader_test {
namespace {

using Service = test_support::StandInService;

class QuotaRouteTest : public AccountRouteTest {
protected:
    QuotaRouteTest()
    {
        auto cfg = memory_config();
        cfg.api_key = "K-123 abc";
        cfg.username = "kim";
        cfg.org_name = "Org";
        cfg.admin_name = "Boss";
        cfg.role = "admin";
        EXPECT_TRUE(config::save_config(cfg));
        set_memory_config(cfg);
        logged_in = cfg;
    }

    config::DesktopConfig logged_in;
};

TEST_F(QuotaRouteTest, WithoutAKeyMakesNoCall)
{
    struct Case {
        std::string_view name;
        bool poison;
    };
    for (const Case c : {Case{"empty key", false}, Case{"lock left by a failed holder", true}}) {
        SCOPED_TRACE(c.name);
        if (c.poison) {
            server::ServerStateProbe::config(state).poison_for_test();
        } else {
            auto cfg = logged_in;
            cfg.api_key.clear();
            set_memory_config(cfg);
        }
        const auto reply = quota();
        EXPECT_EQ(reply.status, 401);
        EXPECT_EQ(reply.raw_body, R"({"authenticated":false})");
        EXPECT_TRUE(service.requests().empty());
    }
}

TEST_F(QuotaRouteTest, PassesTheAccountRecordThroughWithSortedKeys)
{
    struct Case {
        std::string_view name;
        std::string service_body;
        std::string answered;
    };
    const Case cases[] = {
        {"object", R"({"zeta":1,"alpha":{"y":[1,"한글",2.5],"b":null},"mid":true})",
         R"({"alpha":{"b":null,"y":[1,"한글",2.5]},"mid":true,"zeta":1})"},
        {"array", R"( [3,{"b":1,"a":2}] )", R"([3,{"a":2,"b":1}])"},
        {"text", R"("plain")", R"("plain")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.script({{"GET /api/me", {{"text", c.service_body}}}});
        const auto reply = quota();
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.raw_body, c.answered);

        const json sent = service.requests().back();
        EXPECT_EQ(field(sent, "method"), "GET");
        EXPECT_EQ(field(sent, "path"), "/api/me");
        EXPECT_EQ(Service::header(sent, "X-API-Key"), "K-123 abc");
        EXPECT_EQ(header_names(sent), (std::vector<std::string>{"accept", "host", "x-api-key"}));
        EXPECT_EQ(memory_config(), logged_in);
    }
}

TEST_F(QuotaRouteTest, ExpiredKeyClearsTheSavedCredentialsAndOnlyTheKeyInMemory)
{
    const json replies[] = {
        {{"status", 401}, {"json", {{"detail", "unauthorized"}}}},
        {{"status", 403}, {"text", "forbidden"}},
        {{"status", 400}, {"json", {{"detail", "AUTH_EXPIRED"}}}},
        {{"status", 500}, {"json", {{"message", "AUTH_EXPIRED"}}}},
    };
    for (const json& service_reply : replies) {
        SCOPED_TRACE(service_reply.dump());
        ASSERT_TRUE(config::save_config(logged_in));
        set_memory_config(logged_in);
        service.script({{"GET /api/me", service_reply}});

        const auto reply = quota();

        EXPECT_EQ(reply.status, 401);
        EXPECT_EQ(reply.body, json({{"detail", "인증 키가 만료되었습니다. 다시 로그인해 주세요."}}));
        EXPECT_EQ(saved_file(), json({{"server_url", logged_in.server_url},
                                      {"api_key", ""},
                                      {"username", ""},
                                      {"org_name", ""},
                                      {"admin_name", ""},
                                      {"role", ""}}));
        auto expected_memory = logged_in;
        expected_memory.api_key.clear();
        EXPECT_EQ(memory_config(), expected_memory);
    }
}

TEST_F(QuotaRouteTest, OtherFailuresAnswer400AndChangeNothing)
{
    const FailureCase cases[] = {
        {"error with detail", {{"status", 400}, {"json", {{"detail", "quota service down"}}}}, "quota service down"},
        {"marker in another case", {{"status", 400}, {"json", {{"detail", "auth_expired"}}}}, "auth_expired"},
        {"plain text error", {{"status", 500}, {"text", "oops"}}, "서버 요청 실패 (HTTP 500): oops"},
        {"error body over 10 MiB shows its start", {{"status", 502}, {"text", "x"}, {"repeat", 10 * 1024 * 1024 + 1}},
         "서버 요청 실패 (HTTP 502): " + std::string(300, 'x') + "…"},
        {"success not JSON", {{"text", "nope"}}, "계정 정보 파싱 오류: ", true},
        {"connection dropped", {{"drop", true}}, "네트워크 오류: ", true},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        service.script({{"GET /api/me", c.reply}});
        expect_detail(quota(), 400, c);
        EXPECT_EQ(memory_config(), logged_in);
        EXPECT_EQ(saved_file().value_or(json())["api_key"], logged_in.api_key);
    }
}

} // namespace
} // namespace uploader_test
