#include "account_fixture.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace uploader_test {
namespace {

using Service = test_support::StandInService;

TEST_F(AccountRouteTest, LoginSendsTheTrimmedNameAndSortedKeys)
{
    struct Case {
        std::string_view name;
        std::string request_body;
        std::string sent_body;
    };
    const Case cases[] = {
        {"blanks around the name, password as typed",
         R"({"username":" )" "\u3000" R"(kim lee)" "\u00a0" R"( ","password":" p\"w ","extra":1})",
         R"({"device_name":"Windows","password":" p\"w ","username":"kim lee"})"},
        {"body that is not JSON", "username=kim&password=pw",
         R"({"device_name":"Windows","password":"","username":""})"},
        {"JSON that is not an object", R"(["kim","pw"])",
         R"({"device_name":"Windows","password":"","username":""})"},
        {"values that are not text", R"({"username":5,"password":null})",
         R"({"device_name":"Windows","password":"","username":""})"},
        {"empty body", "", R"({"device_name":"Windows","password":"","username":""})"},
        {"body followed by a NUL and more", std::string(R"({"username":"kim","password":"pw"})") + '\0' + "junk",
         R"({"device_name":"Windows","password":"","username":""})"},
        {"body after a byte-order mark", "\xEF\xBB\xBF" R"({"username":"kim","password":"pw"})",
         R"({"device_name":"Windows","password":"","username":""})"},
        {"Korean name and password", R"({"username":"김철수","password":"비밀"})",
         R"({"device_name":"Windows","password":"비밀","username":"김철수"})"},
    };
    set_memory_config([&] {
        auto cfg = memory_config();
        cfg.api_key = "old-key";
        return cfg;
    }());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const auto reply = login(c.request_body);
        EXPECT_EQ(reply.status, 200);

        const auto requests = service.requests();
        ASSERT_EQ(requests.size(), i + 1);
        const json& sent = requests.back();
        EXPECT_EQ(field(sent, "method"), "POST");
        EXPECT_EQ(field(sent, "path"), "/api/desktop/auth");
        EXPECT_EQ(field(sent, "body_text"), c.sent_body);
        EXPECT_EQ(Service::header(sent, "Content-Type"), "application/json");
        EXPECT_EQ(Service::header(sent, "Content-Length"), std::to_string(c.sent_body.size()));
        EXPECT_EQ(header_names(sent), (std::vector<std::string>{"accept", "content-length", "content-type", "host"}));
        EXPECT_EQ(field(sent, "chunked"), false);
    }
}

TEST_F(AccountRouteTest, LoginSavesTheNewConfiguration)
{
    struct Case {
        std::string_view name;
        std::string request_body;
        json service_reply;
        json saved; // without server_url, which is the base URL in every row
    };
    const Case cases[] = {
        {"every field in the reply", R"({"username":" kim ","password":"pw"})",
         {{"api_key", "K1"}, {"username", "김철수"}, {"org_name", "Org"}, {"admin_name", "Boss"}, {"role", "admin"},
          {"ignored", true}},
         {{"api_key", "K1"}, {"username", "김철수"}, {"org_name", "Org"}, {"admin_name", "Boss"}, {"role", "admin"}}},
        {"only the key: typed name kept with its blanks, role user",
         R"({"username":"  kim \t","password":"pw"})", {{"api_key", "K2"}},
         {{"api_key", "K2"}, {"username", "  kim \t"}, {"org_name", ""}, {"admin_name", ""}, {"role", "user"}}},
        {"blank key accepted, fields of other types absent", R"({"username":"lee","password":"pw"})",
         {{"api_key", "   "}, {"username", 7}, {"org_name", json::array({"x"})}, {"admin_name", nullptr}, {"role", false}},
         {{"api_key", "   "}, {"username", "lee"}, {"org_name", ""}, {"admin_name", ""}, {"role", "user"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.script({{"POST /api/desktop/auth", {{"json", c.service_reply}}}});
        const auto reply = login(c.request_body);

        json expected_file = c.saved;
        expected_file["server_url"] = service.url();
        EXPECT_EQ(saved_file(), expected_file);
        const auto memory = memory_config();
        EXPECT_EQ(json({{"server_url", memory.server_url},
                        {"api_key", memory.api_key},
                        {"username", memory.username},
                        {"org_name", memory.org_name},
                        {"admin_name", memory.admin_name},
                        {"role", memory.role}}),
                  expected_file);

        EXPECT_EQ(reply.status, 200);
        const json expected_reply = {{"admin_name", field(c.saved, "admin_name")},
                                     {"org_name", field(c.saved, "org_name")},
                                     {"success", true},
                                     {"username", field(c.saved, "username")}};
        EXPECT_EQ(reply.body, expected_reply);
        EXPECT_EQ(reply.raw_body, expected_reply.dump()); // sorted keys, compact
    }
}

// Every failure answers 401 and changes nothing, on disk or in memory. The error-reply
// rows cover the message rule that the other routes share.
TEST_F(AccountRouteTest, LoginFailuresChangeNothing)
{
    const std::size_t limit = 10 * 1024 * 1024;
    const std::string nested_128 = std::string(128, '[') + std::string(128, ']');
    const std::string nested_129 = std::string(129, '[') + std::string(129, ']');
    const std::string base = service.url();
    const std::string nul(1, '\0');
    const FailureCase cases[] = {
        {"detail text", {{"status", 401}, {"json", {{"detail", "비밀번호가 틀렸습니다"}}}}, "비밀번호가 틀렸습니다"},
        {"empty detail", {{"status", 400}, {"json", {{"detail", ""}, {"message", "not this"}}}}, ""},
        {"detail object with message",
         {{"status", 422}, {"json", {{"detail", {{"message", "m"}, {"code", 3}}}, {"message", "not this"}}}}, "m"},
        {"detail number, top-level message", {{"status", 500}, {"json", {{"detail", 5}, {"message", "top"}}}},
         "top"},
        {"detail message not text, top-level message",
         {{"status", 500}, {"json", {{"detail", {{"message", 1}}}, {"message", "top"}}}}, "top"},
        {"detail object without message", {{"status", 400}, {"text", R"({"detail": {"x": 1}})"}},
         R"(서버 요청 실패 (HTTP 400): {"detail": {"x": 1}})"},
        {"plain text, blanks collapsed", {{"status", 502}, {"text", " Bad  Gateway \n"}},
         "서버 요청 실패 (HTTP 502): Bad Gateway"},
        {"nginx page, its title", {{"status", 413}, {"text", "<html>\r\n<head><title>413 Request Entity Too Large</title>"
                                                           "</head>\r\n<body>\r\n<center><h1>413 Request Entity Too "
                                                           "Large</h1></center>\r\n</body>\r\n</html>\r\n"}},
         "서버 요청 실패 (HTTP 413): 413 Request Entity Too Large"},
        {"JSON text value", {{"status", 404}, {"text", R"("gone")"}}, R"(서버 요청 실패 (HTTP 404): "gone")"},
        {"JSON followed by more", {{"status", 400}, {"text", R"({"detail":"a"} x)"}},
         R"(서버 요청 실패 (HTTP 400): {"detail":"a"} x)"},
        {"invalid UTF-8 replaced", {{"status", 503}, {"body_b64", "Yf9i"}}, "서버 요청 실패 (HTTP 503): a\uFFFDb"},
        {"JSON, NUL and more", {{"status", 400}, {"text", R"({"detail":"a"})" + nul + "junk"}},
         "서버 요청 실패 (HTTP 400): {\"detail\":\"a\"}" + nul + "junk"},
        {"JSON and a NUL inside trailing white space", {{"status", 400}, {"text", R"({"detail":"a"} )" + nul + "\n"}},
         "서버 요청 실패 (HTTP 400): {\"detail\":\"a\"} " + nul},
        {"JSON and trailing white space", {{"status", 400}, {"text", "{\"detail\":\"a\"} \r\n"}}, "a"},
        {"byte-order mark before JSON is skipped", {{"status", 400}, {"body_b64", "77u/eyJkZXRhaWwiOiJhIn0="}}, "a"},
        {"empty body", {{"status", 500}, {"text", ""}}, "서버 요청 실패 (HTTP 500): "},
        {"body of 10 MiB shows its start", {{"status", 500}, {"text", "x"}, {"repeat", limit}},
         "서버 요청 실패 (HTTP 500): " + std::string(300, 'x') + "…"},
        {"body over 10 MiB shows its start", {{"status", 500}, {"text", "x"}, {"repeat", limit + 1}},
         "서버 요청 실패 (HTTP 500): " + std::string(300, 'x') + "…"},
        {"long detail is shortened", {{"status", 400}, {"json", {{"detail", std::string(5000, 'd')}}}},
         std::string(300, 'd') + "…"},
        {"success not JSON", {{"text", "<html>"}}, "서버 응답 파싱 실패: ", true},
        {"success nested 129 levels", {{"text", nested_129}}, "서버 응답 파싱 실패: ", true},
        {"success followed by more", {{"text", R"({"api_key":"k"} {})"}}, "서버 응답 파싱 실패: ", true},
        {"success, NUL and more", {{"text", R"({"api_key":"k"})" + nul + "{}"}}, "서버 응답 파싱 실패: ", true},
        {"success and a NUL inside trailing white space", {{"text", R"({"api_key":"k"})" + ("\n" + nul) + " "}},
         "서버 응답 파싱 실패: ", true},
        {"success over 10 MiB", {{"text", " "}, {"repeat", limit + 1}}, "서버 응답 파싱 실패: ", true},
        {"success nested 128 levels, no key", {{"text", nested_128}}, "API 인증키를 발급받지 못했습니다."},
        {"no api_key", {{"json", {{"username", "kim"}}}}, "API 인증키를 발급받지 못했습니다."},
        {"empty api_key", {{"json", {{"api_key", ""}}}}, "API 인증키를 발급받지 못했습니다."},
        {"api_key not text", {{"json", {{"api_key", 123}}}}, "API 인증키를 발급받지 못했습니다."},
        {"reply is an array", {{"json", json::array({json{{"api_key", "k"}}})}}, "API 인증키를 발급받지 못했습니다."},
        {"connection dropped", {{"drop", true}}, "서버 연결 실패 (" + base + "): ", true},
    };
    const auto before = memory_config();
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        service.script({{"POST /api/desktop/auth", c.reply}});
        expect_detail(login(R"({"username":"kim","password":"pw"})"), 401, c);
        EXPECT_EQ(saved_file(), std::nullopt);
        EXPECT_EQ(memory_config(), before);
    }
}

TEST_F(AccountRouteTest, LoginThatCannotSaveAnswers500AndKeepsMemory)
{
    // A file where the configuration folder should be.
    std::ofstream(home.dir() / "VANOQuillet").put('x');
    const auto before = memory_config();

    const auto reply = login(R"({"username":"kim","password":"pw"})");

    EXPECT_EQ(reply.status, 500);
    config::DesktopConfig would_save = config::DesktopConfig::defaults();
    const auto expected = config::save_config(would_save);
    ASSERT_FALSE(expected);
    EXPECT_EQ(reply.body, json({{"detail", expected.error()}}));
    EXPECT_EQ(memory_config(), before);
    EXPECT_TRUE(std::filesystem::is_regular_file(home.dir() / "VANOQuillet"));
}

} // namespace
} // namespace uploader_test
