#include "main/arg_scan.h"

#include "platform/unicode.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using app::OneShot;

// Makes the current folder `dir` for the scope, so that relative candidates resolve there.
class ScopedCurrentDir {
public:
    explicit ScopedCurrentDir(const std::filesystem::path& dir) : m_old(std::filesystem::current_path())
    {
        std::filesystem::current_path(dir);
    }
    ~ScopedCurrentDir() { std::filesystem::current_path(m_old); }
    ScopedCurrentDir(const ScopedCurrentDir&) = delete;
    ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

private:
    std::filesystem::path m_old;
};

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
        {"switches match exactly", {"--INSTALL", "--install=1", "a.txt"}, OneShot::none, false, {"a.txt"}},
        {"stdio-port after the paths", {"a.txt", "--stdio-port"}, OneShot::none, true, {"a.txt"}},
        {"missing paths dropped", {"nope.txt", "b.txt", ""}, OneShot::none, false, {"b.txt"}},
        {"a path holding NUL names no file", {"a.txt" + std::string(1, '\0') + "/../b.txt"}, OneShot::none, false, {}},
        {"repeat keeps first position", {"b.txt", "a.txt", "b.txt"}, OneShot::none, false, {"b.txt", "a.txt"}},
        {"trailing and repeated separators", {"folder/", "folder", "folder//", d + "//folder", d + "/folder/"},
         OneShot::none, false, {"folder/", d + "//folder"}},
        {"single-dot components", {"folder/./", "./folder", "folder/."}, OneShot::none, false, {"folder/./", "./folder"}},
        {"double dots are not resolved", {"folder/../a.txt", "a.txt"}, OneShot::none, false, {"folder/../a.txt", "a.txt"}},
        {"letter case in a folder name", {"Sub/c.txt", "sub/c.txt"}, OneShot::none, false, {"Sub/c.txt", "sub/c.txt"}},
        {"psn argument naming an existing file", {"-psn_0_123", "a.txt"}, OneShot::none, false, {"a.txt"}},
        {"NSDocumentRevisionsDebugMode takes its value", {"-NSDocumentRevisionsDebugMode", "a.txt", "b.txt"},
         OneShot::none, false, {"b.txt"}},
        {"ApplePersistenceIgnoreState takes its value", {"-ApplePersistenceIgnoreState", "YES", "a.txt"},
         OneShot::none, false, {"a.txt"}},
        {"skipped switch as the last argument", {"a.txt", "-NSDocumentRevisionsDebugMode"}, OneShot::none, false, {"a.txt"}},
        {"skipped value may be a switch", {"-ApplePersistenceIgnoreState", "--install", "a.txt"}, OneShot::none, false, {"a.txt"}},
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

TEST(ArgumentScan, PathComparisonByComponents)
{
    struct Case {
        std::string_view a;
        std::string_view b;
        bool same;
    };
    const Case cases[] = {
        {"C:\\Users\\x", "c:/Users/x/", true},
        {"C:\\Users\\x", "C:\\users\\x", false},
        {"a\\\\b", "a/b", true},
        {"a/./b", "a/b", true},
        {"./a", "a", false},
        {"/./a", "/a", true},
        {"C:a", "C:\\a", false},
        {"/a", "a", false},
        {"\\\\server\\share", "\\server\\share", false},
        {"a/../b", "b", false},
        {"a/b.", "a/b", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + std::string(c.b));
        EXPECT_EQ(app::same_path_components(c.a, c.b), c.same);
        EXPECT_EQ(app::same_path_components(c.b, c.a), c.same);
    }
}

} // namespace
