#include "platform/command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, JoinsByTheWindowsQuotingRules)
{
    struct Case {
        std::string_view name;
        std::string program;
        std::vector<std::string> args;
        std::string expected;
    };
    const Case cases[] = {
        {"program alone is quoted", "reg", {}, R"("reg")"},
        {"program with blanks", R"(C:\Program Files\Google\Chrome\Application\chrome.exe)", {"--x"},
         R"("C:\Program Files\Google\Chrome\Application\chrome.exe" --x)"},
        {"plain arguments stay bare", "reg", {"add", "/ve", "/f"}, R"("reg" add /ve /f)"},
        {"empty argument", "cmd", {"/c", "start", "", "http://127.0.0.1:1/?token=ab"},
         R"("cmd" /c start "" http://127.0.0.1:1/?token=ab)"},
        {"blank", "p", {"a b"}, R"("p" "a b")"},
        {"tab", "p", {"a\tb"}, "\"p\" \"a\tb\""},
        {"quote without blank is escaped, not enclosed", "p", {R"(a"b)"}, R"("p" a\"b)"},
        {"lone quote", "p", {R"(")"}, R"("p" \")"},
        {"quotes and blanks", "p", {R"(say "hi")"}, R"("p" "say \"hi\"")"},
        {"backslashes elsewhere stay single", "p", {R"(C:\dir\file)"}, R"("p" C:\dir\file)"},
        {"backslash before a quote is doubled", "p", {R"(a\"b)"}, R"("p" a\\\"b)"},
        {"two backslashes before a quote", "p", {R"(a\\"b)"}, R"("p" a\\\\\"b)"},
        {"trailing backslash of a bare argument stays", "p", {R"(C:\dir\)"}, R"("p" C:\dir\)"},
        {"trailing backslash before the closing quote is doubled", "p", {R"(C:\my dir\)"},
         R"("p" "C:\my dir\\")"},
        {"two trailing backslashes before the closing quote", "p", {R"(a b\\)"}, R"("p" "a b\\\\")"},
        {"Korean text", "p", {"VANO Quillet로 공유하기", "한글"}, R"("p" "VANO Quillet로 공유하기" 한글)"},
        {"registry command value", "reg", {"/d", R"("C:\Users\a b\vano-duvid.exe" "%1")"},
         R"("reg" /d "\"C:\Users\a b\vano-duvid.exe\" \"%1\"")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::join_command_line(c.program, c.args), c.expected);
    }
}

} // namespace
