#include "shell/pickers.h"

#include "platform/os_error.h"
#include "platform/unicode.h"

#include <gtest/gtest.h>

#include <cerrno>

#ifndef _WIN32
#include "stand_ins.h"
#endif

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> paths_of(std::initializer_list<std::string_view> texts)
{
    std::vector<fs::path> out;
    for (auto t : texts)
        out.push_back(platform::path_from_utf8(t));
    return out;
}

TEST(PathLines, Parsing)
{
    struct Case {
        std::string_view name;
        std::string output;
        std::vector<fs::path> expected;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"CRLF lines", "C:\\a.txt\r\nC:\\b c.txt\r\n", paths_of({"C:\\a.txt", "C:\\b c.txt"})},
        {"last line without a line feed", "C:\\a\nC:\\b", paths_of({"C:\\a", "C:\\b"})},
        {"blank and white-space lines dropped", "\n\r\n   \r\nC:\\a\n\t\n", paths_of({"C:\\a"})},
        {"surrounding blanks trimmed, inner kept", "  C:\\my file.txt  \r\n", paths_of({"C:\\my file.txt"})},
        {"Unicode white space trimmed", "\u3000\u00A0C:\\한글\u2003\u00A0\r\n\u2028\n", paths_of({"C:\\한글"})},
        {"a second carriage return is white space", "C:\\a\r\r\n", paths_of({"C:\\a"})},
        {"order, repeats and missing files kept", "Z:\\missing\nC:\\a\nZ:\\missing\n",
         paths_of({"Z:\\missing", "C:\\a", "Z:\\missing"})},
        {"invalid UTF-8 becomes U+FFFD", "C:\\\xFF.txt\n", paths_of({"C:\\\uFFFD.txt"})},
        {"a line holding NUL names no file", "C:\\real.pdf" + std::string(1, '\0') + "\\..\\clip.mp4\r\nC:\\b\r\n",
         paths_of({"C:\\b"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(shell::parse_path_lines(c.output), c.expected);
    }
}

#ifndef _WIN32

// Against a stand-in PowerShell (POSIX only: the stand-ins are shell scripts).
using test_support::Invocation;
using test_support::StandIns;

const std::string not_found = platform::os_error_text(ENOENT);

constexpr std::string_view file_script =
    "[Console]::OutputEncoding = [System.Text.Encoding]::UTF8; Add-Type -AssemblyName System.Windows.Forms; $d = "
    "New-Object System.Windows.Forms.OpenFileDialog; $d.Multiselect = $true; $d.Title = 'VANO Quillet로 공유할 파일 "
    "선택'; if ($d.ShowDialog() -eq 'OK') { $d.FileNames | ForEach-Object { Write-Output $_ } }";
constexpr std::string_view folder_script =
    "[Console]::OutputEncoding = [System.Text.Encoding]::UTF8; Add-Type -AssemblyName System.Windows.Forms; $d = "
    "New-Object System.Windows.Forms.FolderBrowserDialog; $d.Description = 'VANO Quillet로 공유할 폴더를 "
    "선택하세요'; if ($d.ShowDialog() -eq 'OK') { Write-Output $d.SelectedPath }";

TEST(Pickers, OutcomesAndArguments)
{
    StandIns stand_ins;
    struct Case {
        std::string_view name;
        shell::PickKind kind;
        std::string body;
        std::optional<std::vector<fs::path>> expected; // nothing: cancelled
    };
    const Case cases[] = {
        {"three files in the dialog's order", shell::PickKind::files,
         R"(printf 'C:\\z.txt\r\nC:\\a b.txt\r\n\r\nZ:\\한글.pdf\r\n')",
         paths_of({"C:\\z.txt", "C:\\a b.txt", "Z:\\한글.pdf"})},
        {"one folder", shell::PickKind::folder, R"(printf 'C:\\Users\\me\\폴더\r\n')",
         paths_of({"C:\\Users\\me\\폴더"})},
        {"cancelled: no output", shell::PickKind::files, "exit 0", std::nullopt},
        {"only blank lines", shell::PickKind::folder, R"(printf '\r\n  \r\n')", std::nullopt},
        {"failing script is a cancel even with paths", shell::PickKind::files,
         R"(printf 'C:\\a.txt\r\n'; echo boom >&2; exit 1)", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(stand_ins.log_path());
        stand_ins.add("powershell", c.body);
        const auto outcome = shell::pick_paths(c.kind);
        ASSERT_TRUE(outcome) << outcome.error();
        EXPECT_EQ(*outcome, c.expected);
        const auto script = c.kind == shell::PickKind::folder ? folder_script : file_script;
        const std::vector<Invocation> expected{
            {"powershell", {"-NoProfile", "-Sta", "-WindowStyle", "Hidden", "-Command", std::string(script)}}};
        EXPECT_EQ(stand_ins.invocations(), expected);
    }
    stand_ins.remove("powershell");
    const auto outcome = shell::pick_paths(shell::PickKind::files);
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(), "파일 선택창 실행 실패: " + not_found);
}

#endif

} // namespace
