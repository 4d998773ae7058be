#include "account_fixture.h"

#include <optional>
#include <string>

namespace uploader_test {
namespace {

TEST_F(AccountRouteTest, CheckCodeEncodesTheTrimmedCodeAndSendsNoKey)
{
    struct Case {
        std::string_view name;
        std::optional<std::string> code;
        std::string path;
    };
    const Case cases[] = {
        {"Korean words with a blank", "회의 자료", "/api/check-code?code=%ED%9A%8C%EC%9D%98%20%EC%9E%90%EB%A3%8C"},
        {"blanks alone", " \t\u3000 ", "/api/check-code?code="},
        {"no code parameter", std::nullopt, "/api/check-code?code="},
        {"unreserved characters stay", "Az09-._~", "/api/check-code?code=Az09-._~"},
        {"reserved characters", "a+b/c?d&e=f%#", "/api/check-code?code=a%2Bb%2Fc%3Fd%26e%3Df%25%23"},
        {"Unicode blanks trimmed, inner blank kept", "\u00a0x y\u2003", "/api/check-code?code=x%20y"},
    };
    auto cfg = memory_config();
    cfg.api_key = "secret-key";
    set_memory_config(cfg);
    service.script({{"GET /api/check-code", {{"text", R"({"suggestions":["b","a"],"available":false})"}}}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto reply = check_code(c.code);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.raw_body, R"({"available":false,"suggestions":["b","a"]})");

        const json sent = service.requests().back();
        EXPECT_EQ(field(sent, "method"), "GET");
        EXPECT_EQ(field(sent, "path"), c.path);
        EXPECT_EQ(header_names(sent), (std::vector<std::string>{"accept", "host"})) << "no X-API-Key";
    }
}

TEST_F(AccountRouteTest, CheckCodeFailuresAnswer400)
{
    const FailureCase cases[] = {
        {"error with detail", {{"status", 409}, {"json", {{"detail", "이미 사용 중인 코드입니다"}}}},
         "이미 사용 중인 코드입니다"},
        {"error with a nested message", {{"status", 422}, {"json", {{"detail", {{"message", "형식 오류"}}}}}},
         "형식 오류"},
        {"plain text error", {{"status", 500}, {"text", "Internal"}}, "서버 요청 실패 (HTTP 500): Internal"},
        {"success not JSON", {{"text", "available"}}, "중복 확인 응답 파싱 실패: ", true},
        {"connection dropped", {{"drop", true}}, "서버 연결 오류: ", true},
        {"success body cut short", {{"text", R"({"available":true})"}, {"headers", {{"Content-Length", "100"}}}},
         "서버 연결 오류: ", true},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        service.script({{"GET /api/check-code", c.reply}});
        expect_detail(check_code(std::string("abc")), 400, c);
    }
}

} // namespace
} // namespace uploader_test
