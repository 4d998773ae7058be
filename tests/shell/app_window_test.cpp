#include "shell/app_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#ifndef _WIN32
#include "stand_ins.h"
#endif

namespace {

#ifndef _WIN32

namespace fs = std::filesystem;
using test_support::Invocation;
using test_support::StandIns;

// The browsers are named by their Windows paths. On POSIX such a name is one file name
// holding backslashes: the test puts each stand-in both in the current folder (where the
// existence test looks) and in the folder on PATH (where the start looks).
class AppWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_old_cwd = fs::current_path();
        fs::current_path(stand_ins.dir() / "bin");
    }
    void TearDown() override { fs::current_path(m_old_cwd); }

    // The log once `count` children have written to it (they are not waited for).
    std::vector<Invocation> wait_for(std::size_t count) const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            auto got = stand_ins.invocations();
            if (got.size() >= count)
                return got;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return stand_ins.invocations();
    }

    StandIns stand_ins;

private:
    fs::path m_old_cwd;
};

TEST_F(AppWindow, BrowserCandidatesThenDefaultBrowser)
{
    const std::string url = "http://127.0.0.1:4321/?token=0123456789abcdef0123456789abcdef";
    const std::string edge_x86 = R"(C:\Program Files (x86)\Microsoft\Edge\Application\msedge.exe)";
    const std::string edge = R"(C:\Program Files\Microsoft\Edge\Application\msedge.exe)";
    const std::string chrome = R"(C:\Program Files\Google\Chrome\Application\chrome.exe)";
    const std::string chrome_x86 = R"(C:\Program Files (x86)\Google\Chrome\Application\chrome.exe)";
    const Invocation cmd{"cmd", {"/c", "start", "", url}};
    const auto browser = [&](const std::string& name) {
        return Invocation{name, {"--app=" + url, "--window-size=490,730"}};
    };
    struct Case {
        std::string_view name;
        std::vector<std::string> present;
        std::vector<std::string> not_startable; // present but not executable
        Invocation expected;
    };
    const Case cases[] = {
        {"first Edge", {edge_x86, edge, chrome}, {}, browser(edge_x86)},
        {"Edge only under Program Files", {edge}, {}, browser(edge)},
        {"Chrome after a broken Edge", {chrome_x86}, {edge_x86, edge}, browser(chrome_x86)},
        {"Chrome before Chrome (x86)", {chrome, chrome_x86}, {}, browser(chrome)},
        {"no browser: the default one through cmd", {}, {}, cmd},
        {"only broken browsers: cmd", {}, {edge, chrome}, cmd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& name : {edge_x86, edge, chrome, chrome_x86})
            stand_ins.remove(name);
        fs::remove(stand_ins.log_path());
        stand_ins.add("cmd");
        for (const auto& name : c.present)
            stand_ins.add(name);
        for (const auto& name : c.not_startable) {
            stand_ins.add(name);
            fs::permissions(stand_ins.dir() / "bin" / name, fs::perms::owner_read | fs::perms::owner_write);
        }
        shell::open_app_window(url, false);
        const auto got = wait_for(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0], c.expected);
    }
}

TEST_F(AppWindow, WaitsLongerWhenStartedWithPaths)
{
    stand_ins.add("cmd");
    for (const bool with_paths : {false, true}) {
        SCOPED_TRACE(with_paths);
        const auto start = std::chrono::steady_clock::now();
        shell::open_app_window("http://127.0.0.1:1/?token=x", with_paths);
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(with_paths ? 220 : 20));
    }
    EXPECT_EQ(wait_for(2).size(), 2u); // let the detached stand-ins finish before cleanup
}

TEST_F(AppWindow, NothingStartsAtAll)
{
    stand_ins.remove("cmd");
    shell::open_app_window("http://127.0.0.1:1/?token=x", false); // reports nothing, returns
    EXPECT_TRUE(stand_ins.invocations().empty());
}

#endif

} // namespace
