#include "config/desktop_config.h"

#include "platform/unicode.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>


namespace {

namespace fs = std::filesystem;
using config::DesktopConfig;

using test_support::file_bytes;
using test_support::put_file;

// Points the configuration folder at a scratch folder; never at the real one.
class ConfigFolder : public ::testing::Test {
protected:
    test_support::ScratchDir scratch;
    test_support::ScopedEnv appdata{"APPDATA", platform::path_to_utf8(scratch.path())};
    test_support::ScopedEnv home{"HOME", platform::path_to_utf8(scratch / "home")};
    fs::path folder() const { return scratch / "VANOQuillet"; }
    fs::path file() const { return folder() / "desktop_config.json"; }
};

DesktopConfig account(std::string url)
{
    return {std::move(url), "key-1", "kim", "\xED\x9A\x8C\xEC\x82\xAC", "admin", "member"};
}

const std::string full_object = R"({
  "server_url": "https://files.example.org",
  "api_key": "key-1",
  "username": "kim",
  "org_name": "회사",
  "admin_name": "admin",
  "role": "member"
})";

TEST_F(ConfigFolder, LoadAcceptsBothFormsAndRejectsEveryOtherShape)
{
    const DesktopConfig good = account("https://files.example.org");
    const DesktopConfig defaults = DesktopConfig::defaults();
    const std::string nul(1, '\0');
    struct Case {
        std::string_view name;
        std::optional<std::string> file;
        DesktopConfig want;
    };
    const Case cases[] = {
        {"no file", std::nullopt, defaults},
        {"object", full_object, good},
        {"object with trailing white space", full_object + " \t\r\n", good},
        {"keys in another order",
         R"({"role":"member","admin_name":"admin","org_name":"회사","username":"kim","api_key":"key-1","server_url":"https://files.example.org"})",
         good},
        {"unknown seventh key with any value",
         R"({"server_url":"https://files.example.org","extra":{"a":[1,null,{"b":true}]},"api_key":"key-1","username":"kim","org_name":"회사","admin_name":"admin","role":"member"})",
         good},
        {"escaped key name",
         R"({"server_url":"https://files.example.org","api_key":"key-1","username":"kim","org_name":"\ud68c\uc0ac","admin_name":"admin","\u0072ole":"member"})",
         good},
        {"array of six", R"(["https://files.example.org","key-1","kim","회사","admin","member"])", good},
        {"duplicate role", R"({"server_url":"u","api_key":"k","username":"","org_name":"","admin_name":"","role":"a","role":"b"})", defaults},
        {"missing role", R"({"server_url":"u","api_key":"k","username":"","org_name":"","admin_name":""})", defaults},
        {"six keys with role twice and admin_name missing",
         R"({"server_url":"u","api_key":"k","username":"","org_name":"","role":"a","role":"b"})", defaults},
        {"null role", R"({"server_url":"u","api_key":"k","username":"","org_name":"","admin_name":"","role":null})", defaults},
        {"number role", R"({"server_url":"u","api_key":"k","username":"","org_name":"","admin_name":"","role":1})", defaults},
        {"object role", R"({"server_url":"u","api_key":"k","username":"","org_name":"","admin_name":"","role":{}})", defaults},
        {"array of five", R"(["u","k","","",""])", defaults},
        {"array of seven", R"(["u","k","","","","",""])", defaults},
        {"array with a number", R"(["u","k","","","",7])", defaults},
        {"array with a nested array", R"(["u","k","","","",[]])", defaults},
        {"byte-order mark", "\xEF\xBB\xBF" + full_object, defaults},
        {"trailing text", full_object + " x", defaults},
        {"second value", full_object + "{}", defaults},
        {"top-level string", R"("https://files.example.org")", defaults},
        {"top-level number", "42", defaults},
        {"top-level null", "null", defaults},
        {"top-level true", "true", defaults},
        {"syntax error", R"({"server_url": "u",})", defaults},
        {"empty file", "", defaults},
        {"not UTF-8", R"(["u","k","","","",")" "\xFF" R"("])", defaults},
        {"form feed is not JSON white space", full_object + "\f", defaults},
        {"NUL and more after the object", full_object + nul + "junk", defaults},
        {"NUL alone after the object", full_object + nul, defaults},
        {"NUL inside trailing white space", full_object + "\n" + nul + "\n", defaults},
        {"NUL after the array", R"(["https://files.example.org","key-1","kim","회사","admin","member"])" + nul + "]",
         defaults},
        {"raw NUL inside a value", R"(["u","k","",")" + nul + R"(","",""])", defaults},
        {"escaped NUL inside a value is text", R"(["https://files.example.org","key-1","kim","회사","admin","mem\u0000ber"])",
         DesktopConfig{"https://files.example.org", "key-1", "kim", "회사", "admin", std::string("mem\0ber", 7)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder());
        if (c.file) {
            fs::create_directories(folder());
            put_file(file(), *c.file);
        }
        EXPECT_EQ(config::load_config(), c.want);
        // Loading never writes.
        EXPECT_EQ(fs::exists(file()), c.file.has_value());
        if (c.file) {
            EXPECT_EQ(file_bytes(file()), *c.file);
        }
    }
}

TEST_F(ConfigFolder, BlankServerUrlTakesTheDefault)
{
    struct Case {
        std::string_view name;
        std::string stored; // JSON string content, escapes allowed
        std::string want;
    };
    const Case cases[] = {
        {"empty", "", config::default_server_url},
        {"spaces and an escaped tab", " \\t ", config::default_server_url},
        {"ideographic space and no-break space", "\xE3\x80\x80\xC2\xA0", config::default_server_url},
        {"surrounding spaces kept", " https://x.example ", " https://x.example "},
        {"zero-width space is not white space", "\xE2\x80\x8B", "\xE2\x80\x8B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::create_directories(folder());
        put_file(file(), R"([")" + c.stored + R"(","k","","","",""])");
        const auto cfg = config::load_config();
        EXPECT_EQ(cfg.server_url, c.want);
        EXPECT_EQ(cfg.api_key, "k");
    }
}

TEST_F(ConfigFolder, SaveWritesTheExactLayout)
{
    struct Case {
        std::string_view name;
        DesktopConfig cfg;
        std::string bytes;
    };
    const Case cases[] = {
        {"defaults",
         DesktopConfig::defaults(),
         std::string("{\n  \"server_url\": \"") + config::default_server_url +
             "\",\n  \"api_key\": \"\",\n  \"username\": \"\",\n  \"org_name\": \"\",\n  \"admin_name\": \"\",\n"
             "  \"role\": \"\"\n}"},
        {"korean as UTF-8, quote, backslash and controls escaped",
         {"https://a.example", "k\"1", "\xEA\xB9\x80\\", "tab\there", "nl\nx\x01", "\x7F/"},
         "{\n  \"server_url\": \"https://a.example\",\n  \"api_key\": \"k\\\"1\",\n  \"username\": \"\xEA\xB9\x80\\\\\",\n"
         "  \"org_name\": \"tab\\there\",\n  \"admin_name\": \"nl\\nx\\u0001\",\n  \"role\": \"\x7F/\"\n}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(config::save_config(c.cfg));
        EXPECT_EQ(file_bytes(file()), c.bytes);
        EXPECT_EQ(config::load_config(), c.cfg);
    }
    // The temporary file is gone after the rename.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder()), fs::directory_iterator()), 1);
}

TEST_F(ConfigFolder, SaveFailuresKeepTheOldFile)
{
    // The folder cannot be made: APPDATA names a file.
    {
        put_file(scratch / "plainfile", "x");
        test_support::ScopedEnv blocked("APPDATA", platform::path_to_utf8(scratch / "plainfile"));
        const auto r = config::save_config(DesktopConfig::defaults());
        ASSERT_FALSE(r);
        EXPECT_TRUE(r.error().starts_with("설정 폴더 생성 실패: ")) << r.error();
        EXPECT_NE(r.error().find(" (os error "), std::string::npos) << r.error();
    }
    ASSERT_TRUE(config::save_config(account("https://keep.example")));
    const std::string saved = file_bytes(file());

    auto bad = DesktopConfig::defaults();
    bad.username = "\xFF";
    const auto r = config::save_config(bad);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().starts_with("설정 직렬화 실패: ")) << r.error();
    EXPECT_GT(r.error().size(), std::string_view("설정 직렬화 실패: ").size());
    EXPECT_EQ(file_bytes(file()), saved);

    // The file's place is taken by a folder: the rename over it fails.
    fs::remove(file());
    fs::create_directory(file());
    const auto w = config::save_config(DesktopConfig::defaults());
    ASSERT_FALSE(w);
    EXPECT_TRUE(w.error().starts_with("설정 파일 저장 실패: ")) << w.error();
    EXPECT_NE(w.error().find(" (os error "), std::string::npos) << w.error();
    EXPECT_TRUE(fs::is_directory(file()));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder()), fs::directory_iterator()), 1);
}

TEST_F(ConfigFolder, ClearCredentialsKeepsTheServerUrl)
{
    ASSERT_TRUE(config::clear_credentials());
    EXPECT_EQ(config::load_config(), DesktopConfig::defaults());

    ASSERT_TRUE(config::save_config(account("https://custom.example")));
    ASSERT_TRUE(config::clear_credentials());
    DesktopConfig want;
    want.server_url = "https://custom.example";
    EXPECT_EQ(config::load_config(), want);
}

TEST_F(ConfigFolder, FolderFollowsTheEnvironment)
{
    const std::string s = platform::path_to_utf8(scratch.path());
    struct Case {
        std::string_view name;
        std::optional<std::string> appdata, home, userprofile;
        fs::path want;
    };
    const Case cases[] = {
        {"APPDATA first", s + "/a", s + "/h", s + "/u", scratch / "a" / "VANOQuillet"},
        {"HOME before USERPROFILE", std::nullopt, s + "/h", s + "/u", scratch / "h" / ".vano-quillet"},
        {"USERPROFILE", std::nullopt, std::nullopt, s + "/u", scratch / "u" / ".vano-quillet"},
        {"none", std::nullopt, std::nullopt, std::nullopt, platform::temp_dir() / "vano-quillet"},
        {"empty APPDATA counts as set", std::string(), s + "/h", std::nullopt, fs::path("VANOQuillet")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::ScopedEnv a("APPDATA", c.appdata), h("HOME", c.home), u("USERPROFILE", c.userprofile);
        EXPECT_EQ(config::config_dir().lexically_normal(), c.want.lexically_normal());
        EXPECT_EQ(config::config_file_path(), config::config_dir() / "desktop_config.json");
    }
}

} // namespace
