// Against a stand-in PowerShell (POSIX only: the stand-ins are shell scripts).
#include "shell/clipboard.h"

#include "platform/os_error.h"

#include <gtest/gtest.h>

#include <cerrno>

#ifndef _WIN32
#include "stand_ins.h"
#endif

namespace {

#ifndef _WIN32

namespace fs = std::filesystem;
using test_support::Invocation;
using test_support::StandIns;

const std::string not_found = platform::os_error_text(ENOENT);

constexpr std::string_view clipboard_script =
    "[Console]::InputEncoding = [System.Text.Encoding]::UTF8; Set-Clipboard -Value "
    "([Console]::In.ReadToEnd().TrimEnd())";
TEST(Clipboard, TextReachesPowerShellsInput)
{
    StandIns stand_ins;
    const std::string sink = stand_ins.file("stdin").string();
    struct Case {
        std::string_view name;
        std::string text;
        std::string body;
    };
    const Case cases[] = {
        {"link", "https://example.test/abc", "cat > '" + sink + "'"},
        {"Korean text with trailing line break", "공유 링크 \r\n", "cat > '" + sink + "'"},
        {"empty text", "", "cat > '" + sink + "'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(stand_ins.log_path());
        stand_ins.add("powershell", c.body);
        const auto outcome = shell::copy_to_clipboard(c.text);
        EXPECT_TRUE(outcome) << outcome.error();
        EXPECT_EQ(test_support::read_bytes(sink), c.text);
        const std::vector<Invocation> expected{
            {"powershell", {"-NoProfile", "-WindowStyle", "Hidden", "-Command", std::string(clipboard_script)}}};
        EXPECT_EQ(stand_ins.invocations(), expected);
    }
}

TEST(Clipboard, Failures)
{
    StandIns stand_ins;
    EXPECT_EQ(shell::copy_to_clipboard("x"), core::Result<void>(core::fail("클립보드 실행 실패: " + not_found)));

    // A child that ends without reading: the write meets a closed pipe.
    stand_ins.add("powershell", "exit 0");
    const auto outcome = shell::copy_to_clipboard(std::string(4 << 20, 'x'));
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(), "클립보드 기록 실패: " + platform::os_error_text(EPIPE));
}

// Set-Clipboard that fails makes PowerShell exit non-zero after it read the whole text.
TEST(Clipboard, FailingPowerShellIsAFailure)
{
    StandIns stand_ins;
    const std::string sink = stand_ins.file("stdin").string();
    struct Case {
        std::string_view name;
        std::string body;
        std::string message;
    };
    const Case cases[] = {
        {"access denied", "cat > '" + sink + "'; echo 'Access is denied' >&2; exit 1",
         "클립보드 복사 실패: PowerShell 종료 코드 1"},
        {"other exit code", "cat > '" + sink + "'; exit 9", "클립보드 복사 실패: PowerShell 종료 코드 9"},
        {"ended by a signal", "cat > '" + sink + "'; kill -9 $$", "클립보드 복사 실패: PowerShell 종료 코드 137"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        stand_ins.add("powershell", c.body);
        const auto outcome = shell::copy_to_clipboard("https://example.test/abc");
        EXPECT_EQ(outcome, core::Result<void>(core::fail(c.message)));
        EXPECT_EQ(test_support::read_bytes(sink), "https://example.test/abc");
    }
}

#endif

} // namespace
