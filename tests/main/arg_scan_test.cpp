#include "main/arg_scan.h"

#include "platform/args.h"
#include "platform/unicode.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using app::OneShot;
using test_support::ScopedCurrentDir;

void touch(const std::filesystem::path& path)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

TEST(ArgumentScan, SwitchesSkippedArgumentsAndPaths)
{
    test_support::ScratchDir dir;
    touch(dir / "a.txt");
    touch(dir / "b.txt");
    touch(dir / "Sub" / "c.txt");
    touch(dir / "sub" / "c.txt"); // the same file where names ignore case
    touch(dir / "-psn_0_123");
    std::filesystem::create_directories(dir / "folder");
    ScopedCurrentDir cwd(dir.path());
    const std::string d = platform::path_to_utf8(dir.path());
    // A relative candidate as the scan must give it: the current folder joined with it.
    const auto in_dir = [&](const char* rel) { return platform::path_to_utf8(dir.path() / platform::path_from_utf8(rel)); };

    struct Case {
        std::string_view name;
        std::vector<std::string> args;
        OneShot one_shot;
        bool stdio_port;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {"no arguments", {}, OneShot::none, false, {}},
        {"install after a path", {"a.txt", "--install"}, OneShot::install, false, {}},
        {"stdio-port then uninstall", {"--stdio-port", "--uninstall"}, OneShot::uninstall, false, {}},
        {"first one-shot switch decides", {"--uninstall", "--install"}, OneShot::uninstall, false, {}},
        {"switches match exactly", {"--INSTALL", "--install=1", "a.txt"}, OneShot::none, false, {in_dir("a.txt")}},
        {"stdio-port after the paths", {"a.txt", "--stdio-port"}, OneShot::none, true, {in_dir("a.txt")}},
        {"missing paths dropped", {"nope.txt", "b.txt", ""}, OneShot::none, false, {in_dir("b.txt")}},
        {"a path holding NUL names no file", {"a.txt" + std::string(1, '\0') + "/../b.txt"}, OneShot::none, false, {}},
        {"repeat keeps first position", {"b.txt", "a.txt", "b.txt"}, OneShot::none, false, {in_dir("b.txt"), in_dir("a.txt")}},
        {"absolute path kept as written", {d + "//a.txt"}, OneShot::none, false, {d + "//a.txt"}},
        {"relative and absolute name one file", {"a.txt", d + "/a.txt"}, OneShot::none, false, {in_dir("a.txt")}},
        {"trailing and repeated separators", {"folder/", "folder", "folder//", d + "//folder", d + "/folder/"},
         OneShot::none, false, {in_dir("folder/")}},
        {"single-dot components", {"folder/./", "./folder", "folder/."}, OneShot::none, false, {in_dir("folder/./")}},
        {"double dots are not resolved", {"folder/../a.txt", "a.txt"}, OneShot::none, false,
         {in_dir("folder/../a.txt"), in_dir("a.txt")}},
        {"letter case in a folder name", {"Sub/c.txt", "sub/c.txt"}, OneShot::none, false,
         {in_dir("Sub/c.txt"), in_dir("sub/c.txt")}},
        {"psn argument naming an existing file", {"-psn_0_123", "a.txt"}, OneShot::none, false, {in_dir("a.txt")}},
        {"NSDocumentRevisionsDebugMode takes its value", {"-NSDocumentRevisionsDebugMode", "a.txt", "b.txt"},
         OneShot::none, false, {in_dir("b.txt")}},
        {"ApplePersistenceIgnoreState takes its value", {"-ApplePersistenceIgnoreState", "YES", "a.txt"},
         OneShot::none, false, {in_dir("a.txt")}},
        {"skipped switch as the last argument", {"a.txt", "-NSDocumentRevisionsDebugMode"}, OneShot::none, false,
         {in_dir("a.txt")}},
        {"skipped value may be a switch", {"-ApplePersistenceIgnoreState", "--install", "a.txt"}, OneShot::none, false,
         {in_dir("a.txt")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto scanned = app::scan_arguments(c.args);
        EXPECT_EQ(scanned.one_shot, c.one_shot);
        EXPECT_EQ(scanned.stdio_port, c.stdio_port);
        std::vector<std::string> got;
        for (const auto& p : scanned.paths)
            got.push_back(platform::path_to_utf8(p));
        EXPECT_EQ(got, c.paths);
    }
}

TEST(ArgumentScan, DriveRootWhoseQuoteWasEscaped)
{
    struct Case {
        std::string_view arg;
        std::string_view candidate;
    };
    const Case cases[] = {
        {"C:\"", "C:\\"},
        {"z:\"", "z:\\"},
        {"C:\\", "C:\\"},
        {"C:", "C:"},
        {"1:\"", "1:\""},
        {"C:\"x", "C:\"x"},
        {"CC:\"", "CC:\""},
        {"\"C:", "\"C:"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arg);
        EXPECT_EQ(app::repair_drive_root(std::string(c.arg)), c.candidate);
    }
}

#ifdef _WIN32
// Through the system's own splitting of the command line that Explorer's verbs give.
TEST(ArgumentScan, ExplorerCommandLinesOnWindows)
{
    const std::string exe = "\"C:\\Program Files\\VANO\\vano-duvid.exe\"";
    struct Case {
        std::string_view name;
        std::string tail;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {"background of a drive root", " \"C:\\\"", {"C:\\"}},
        {"background of a folder", " \"C:\\windows\"", {"C:\\windows"}},
        {"drive root written without quotes", " C:\\", {"C:\\"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto args = platform::split_command_line(exe + c.tail);
        ASSERT_FALSE(args.empty());
        args.erase(args.begin());
        std::vector<std::string> got;
        for (const auto& p : app::scan_arguments(args).paths)
            got.push_back(platform::path_to_utf8(p));
        EXPECT_EQ(got, c.paths);
    }
}
#endif

} // namespace
