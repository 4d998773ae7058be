// Redirects of the service's answers to the account routes: followed within the service's
// origin without changing the method, refused anywhere else, so the password and the key
// never reach another origin.
#include "account_fixture.h"

#include <string>

namespace uploader_test {
namespace {

enum class Route { login, quota, check_code };
enum class Where { same_origin, other_port };

class AccountRedirectTest : public AccountRouteTest {
protected:
    LocalReply call_route(Route route)
    {
        auto cfg = memory_config_with_url(service.url() + "//");
        cfg.api_key = "secret-key";
        set_memory_config(cfg);
        switch (route) {
        case Route::login:
            return login(R"({"username":"kim","password":"pw-1234"})");
        case Route::quota:
            return quota();
        case Route::check_code:
            return check_code("abc");
        }
        return {};
    }

    test_support::StandInService other;
};

TEST_F(AccountRedirectTest, FollowedWithinTheOriginRefusedElsewhere)
{
    struct Case {
        std::string_view name;
        Route route;
        int status;
        Where where;
        bool followed;
    };
    const Case cases[] = {
        {"login 301 same origin", Route::login, 301, Where::same_origin, false},
        {"login 302 same origin", Route::login, 302, Where::same_origin, false},
        {"login 303 same origin", Route::login, 303, Where::same_origin, false},
        {"login 307 same origin", Route::login, 307, Where::same_origin, true},
        {"login 308 same origin", Route::login, 308, Where::same_origin, true},
        {"login 307 other port", Route::login, 307, Where::other_port, false},
        {"login 308 other port", Route::login, 308, Where::other_port, false},
        {"login 302 other port", Route::login, 302, Where::other_port, false},
        {"login 301 other port", Route::login, 301, Where::other_port, false},
        {"login 303 other port", Route::login, 303, Where::other_port, false},
        {"me 301 same origin", Route::quota, 301, Where::same_origin, true},
        {"me 302 same origin", Route::quota, 302, Where::same_origin, true},
        {"me 303 same origin", Route::quota, 303, Where::same_origin, true},
        {"me 307 same origin", Route::quota, 307, Where::same_origin, true},
        {"me 308 same origin", Route::quota, 308, Where::same_origin, true},
        {"me 301 other port", Route::quota, 301, Where::other_port, false},
        {"me 302 other port", Route::quota, 302, Where::other_port, false},
        {"me 308 other port", Route::quota, 308, Where::other_port, false},
        {"me 303 other port", Route::quota, 303, Where::other_port, false},
        {"me 307 other port", Route::quota, 307, Where::other_port, false},
        {"check-code 302 same origin", Route::check_code, 302, Where::same_origin, true},
        {"check-code 308 same origin", Route::check_code, 308, Where::same_origin, true},
        {"check-code 301 same origin", Route::check_code, 301, Where::same_origin, true},
        {"check-code 303 same origin", Route::check_code, 303, Where::same_origin, true},
        {"check-code 307 same origin", Route::check_code, 307, Where::same_origin, true},
        {"check-code 302 other port", Route::check_code, 302, Where::other_port, false},
        {"check-code 303 other port", Route::check_code, 303, Where::other_port, false},
        {"check-code 308 other port", Route::check_code, 308, Where::other_port, false},
        {"check-code 301 other port", Route::check_code, 301, Where::other_port, false},
        {"check-code 307 other port", Route::check_code, 307, Where::other_port, false},
    };
    const json account = {{"username", "moved"}};
    const json code = {{"available", true}, {"message", "moved"}, {"suggestions", json::array()}};
    const json key = {{"api_key", "moved-key"}, {"username", "moved"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string method = c.route == Route::login ? "POST" : "GET";
        const std::string path = c.route == Route::login ? "/api/desktop/auth"
                                 : c.route == Route::quota ? "/api/me"
                                                           : "/api/check-code";
        const json answer = c.route == Route::login ? key : c.route == Route::quota ? account : code;
        const std::string base = c.where == Where::same_origin ? service.url() : other.url();
        service.script({{method + " " + path,
                         {{"status", c.status}, {"headers", {{"Location", base + "/moved"}}}, {"json", json::object()}}},
                        {method + " /moved", {{"json", answer}}}});
        other.script({{method + " /moved", {{"json", answer}}}});
        const auto seen_before = service.requests().size();
        const auto other_before = other.requests().size();

        const LocalReply reply = call_route(c.route);
        const auto seen = service.requests();
        EXPECT_EQ(other.requests().size(), other_before) << "the other origin was asked";
        if (c.followed) {
            EXPECT_EQ(reply.status, 200) << reply.raw_body;
            ASSERT_EQ(seen.size(), seen_before + 2);
            const json& again = seen.back();
            EXPECT_EQ(again.value("method", ""), method);
            EXPECT_TRUE(again.value("path", "").starts_with("/moved"));
            if (c.route == Route::login) {
                EXPECT_EQ(again.value("body_text", ""), seen[seen_before].value("body_text", "-"));
            }
            if (c.route == Route::quota) {
                EXPECT_EQ(test_support::StandInService::header(again, "X-API-Key"), "secret-key");
            }
        } else {
            EXPECT_EQ(reply.status, c.route == Route::login ? 401 : 400) << reply.raw_body;
            const std::string detail = reply.body.is_object() ? reply.body.value("detail", "") : "";
            EXPECT_NE(detail.find("HTTP " + std::to_string(c.status)), std::string::npos) << detail;
            EXPECT_EQ(seen.size(), seen_before + 1);
        }
    }
}

// A service saved as plain http on port 80 that moves the login up to https on 443: the
// login follows it there and fails only at the stand-in's untrusted certificate.
TEST_F(AccountRouteTest, LoginFollowsHttpUpToHttpsOnTheDefaultPorts)
{
    std::string why;
    const auto ports = test_support::StandInService::on_default_ports(why);
    if (!ports)
        GTEST_SKIP() << why;
    ports->plain->script({{"POST /api/desktop/auth",
                    {{"status", 308},
                     {"headers", {{"Location", "https://127.0.0.1/api/desktop/auth"}}},
                     {"json", json::object()}}}});
    set_memory_config(memory_config_with_url("http://127.0.0.1/"));

    const LocalReply reply = login(R"({"username":"kim","password":"pw-1234"})");
    EXPECT_EQ(reply.status, 401) << reply.raw_body;
    const std::string detail = reply.body.is_object() ? reply.body.value("detail", "") : "";
    const std::string prefix = "서버 연결 실패 (http://127.0.0.1): ";
    EXPECT_TRUE(detail.starts_with(prefix) && detail.size() > prefix.size()) << detail;
    EXPECT_EQ(detail.find("redirect refused"), std::string::npos) << detail;
    EXPECT_EQ(ports->plain->requests().size(), 1u);
    EXPECT_TRUE(ports->secure->saw_connection()) << "no connection reached port 443";
    EXPECT_TRUE(ports->secure->requests().empty());
    EXPECT_EQ(saved_file(), std::nullopt);
}

} // namespace
} // namespace uploader_test
