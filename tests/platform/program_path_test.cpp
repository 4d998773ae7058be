// The file that a child process's program name becomes on Windows.
#ifdef _WIN32

#include "platform/win32/program_path.h"

#include "platform/env.h"
#include "platform/os_error.h"
#include "platform/unicode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

TEST(ProgramPath, SystemProgramsAndFullPaths)
{
    // Read apart from the code under test: the system folder is below the Windows folder.
    const std::string system = platform::env_var("SystemRoot").value_or("C:\\Windows") + "\\System32\\";
    struct Case {
        std::string_view name;
        std::string program;
        std::string expected; // nothing for a refused name
        bool exists = false;  // the file is there
    };
    const Case cases[] = {
        {"reg", "reg", system + "reg.exe", true},
        {"cmd", "cmd", system + "cmd.exe", true},
        {"powershell below its own folder", "powershell", system + "WindowsPowerShell\\v1.0\\powershell.exe", true},
        {"a drive path as it is", "C:\\Program Files\\x\\chrome.exe", "C:\\Program Files\\x\\chrome.exe"},
        {"a share path as it is", "\\\\server\\share\\tool.exe", "\\\\server\\share\\tool.exe"},
        {"a name with its extension", "reg.exe", ""},
        {"a name the code never uses", "notepad", ""},
        {"a relative path", "tools\\reg.exe", ""},
        {"relative to the current drive's folder", "C:reg.exe", ""},
        {"rooted on the current drive", "\\Windows\\System32\\reg.exe", ""},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = platform::win32::program_path(c.program);
        if (c.expected.empty()) {
            ASSERT_FALSE(path) << platform::path_to_utf8(*path);
            EXPECT_EQ(path.error(), platform::os_error_text(2));
            continue;
        }
        ASSERT_TRUE(path) << path.error();
        EXPECT_EQ(lower(platform::path_to_utf8(*path)), lower(c.expected));
        if (c.exists) {
            EXPECT_TRUE(std::filesystem::is_regular_file(*path));
        }
    }
}

} // namespace

#endif
