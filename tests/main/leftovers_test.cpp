// Temporary files left by processes that ended without cleaning up, against files that
// are not the program's or whose writer still runs.

#include "main/leftovers.h"

#include "config/desktop_config.h"
#include "main/run_main.h"
#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/unicode.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// No process has this id: above POSIX's largest pid_max, and far beyond the ids Windows
// hands out (which are multiples of four).
constexpr std::uint32_t gone_pid = 99'999'996;

class Leftovers : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(config::config_dir());
        // Windows only: keep the menu registration's copy of the program out of the real
        // profile.
        if (platform::env_var("LOCALAPPDATA"))
            m_local.emplace("LOCALAPPDATA", platform::path_to_utf8(m_dir / "local"));
    }

    static fs::path plant(const std::string& name, std::chrono::seconds age)
    {
        const fs::path file = config::config_dir() / platform::path_from_utf8(name);
        std::ofstream(file) << "{}";
        fs::last_write_time(file, fs::file_time_type::clock::now() - age);
        return file;
    }

    test_support::ScratchDir m_dir;
    test_support::ScopedEnv m_appdata{"APPDATA", platform::path_to_utf8(m_dir / "appdata")};
    test_support::ScopedEnv m_home{"HOME", platform::path_to_utf8(m_dir / "home")};
    std::optional<test_support::ScopedEnv> m_local;
};

TEST_F(Leftovers, OnlyTheProgramsOwnTemporaryFilesOfEndedWritersGo)
{
    // A writer that still runs; its own start-up is over before anything is planted.
    auto live = platform::ChildProcess::start(VANO_EXE_PATH, {"--stdio-port"});
    ASSERT_TRUE(live) << live.error();
    ASSERT_TRUE(live->read_stdout_line(20s)) << live->take_stderr();
    const std::string running = std::to_string(live->pid());
    const std::string gone = std::to_string(gone_pid);
    const std::string self = std::to_string(platform::process_id());
    const auto stale = std::chrono::seconds(app::LEFTOVER_STALE_SECS + 60);
    const auto recent = 0s;

    struct Case {
        std::string name;
        std::chrono::seconds age;
        bool removed;
    };
    const Case cases[] = {
        {"active_session." + gone + ".tmp", recent, true},
        {"active_session." + self + ".tmp", recent, true},
        {"active_session." + running + ".tmp", recent, false},
        {"active_session." + running + ".tmp", stale, true},
        {"desktop_config.json.tmp-" + gone + "-1765360000000000000-0", recent, true},
        {"desktop_config.json.tmp-" + running + "-1765360000000000000-3", recent, false},
        {"desktop_config.json.tmp-" + running + "-1765360000000000000-3", stale, true},
        // Written before the name held the writer's id: only age tells.
        {"desktop_config.json.tmp-1765360000000000000-0", recent, false},
        {"desktop_config.json.tmp-1765360000000000000-0", stale, true},
        // Not the program's names, however old and whatever process they seem to name.
        {"active_session.json", stale, false},
        {"desktop_config.json", stale, false},
        {"session_claim.lock", stale, false},
        {"active_session.tmp", stale, false},
        {"active_session.x" + gone + ".tmp", stale, false},
        {"active_session.-" + gone + ".tmp", stale, false},
        {"active_session." + gone + ".tmp.bak", stale, false},
        {"active_session.99999999999.tmp", stale, false},
        {"desktop_config.json.tmp-", stale, false},
        {"desktop_config.json.tmp-" + gone, stale, false},
        {"desktop_config.json.tmp-" + gone + "-1-2-3", stale, false},
        {"desktop_config.json.tmp-" + gone + "-x-1", stale, false},
        {"desktop_config.json.tmp-" + gone + "--1", stale, false},
        {"desktop_config.json.bak-" + gone + "-1-0", stale, false},
        {"other.tmp", stale, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + (c.age == recent ? " (recent)" : " (stale)"));
        const fs::path file = plant(c.name, c.age);
        app::remove_leftover_temp_files();
        EXPECT_EQ(!fs::exists(file), c.removed);
        fs::remove(file);
    }

    // A folder under a leftover's name is nobody's temporary file.
    const fs::path folder = config::config_dir() / ("active_session." + gone + ".tmp");
    fs::create_directories(folder);
    std::error_code aged; // the Windows runtime cannot date a folder: there it is merely new
    fs::last_write_time(folder, fs::file_time_type::clock::now() - stale, aged);
    app::remove_leftover_temp_files();
    EXPECT_TRUE(fs::is_directory(folder));
    live->kill();
}

TEST_F(Leftovers, TemporaryArchivesGoOnlyOnceNoJobCanOwnThem)
{
    const fs::path temp = m_dir / "temp";
    fs::create_directories(temp);
    // The temporary folder: TMPDIR on POSIX, TMP for GetTempPathW.
    const test_support::ScopedEnv tmpdir("TMPDIR", platform::path_to_utf8(temp));
    const test_support::ScopedEnv tmp("TMP", platform::path_to_utf8(temp));
    const auto stale = std::chrono::seconds(app::LEFTOVER_ARCHIVE_STALE_SECS + 60);
    const auto packing = std::chrono::seconds(app::LEFTOVER_ARCHIVE_STALE_SECS - 600);
    struct Case {
        std::string name;
        std::chrono::seconds age;
        bool removed;
    };
    const Case cases[] = {
        {"vano_duvid_1765360000000000000.zip", stale, true},
        {"vano_duvid_1.zip", stale, true},
        {"vano_duvid_1765360000000000000.zip", packing, false},
        {"vano_duvid_1765360000000000000.zip", 0s, false},
        {"vano_duvid_.zip", stale, false},
        {"vano_duvid_12x.zip", stale, false},
        {"vano_duvid_-1.zip", stale, false},
        {"vano_duvid_1.zip.part", stale, false},
        {"xvano_duvid_1.zip", stale, false},
        {"other.zip", stale, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + " aged " + std::to_string(c.age.count()) + " s");
        ASSERT_EQ(platform::temp_dir(), temp);
        const fs::path file = temp / platform::path_from_utf8(c.name);
        std::ofstream(file) << "PK";
        fs::last_write_time(file, fs::file_time_type::clock::now() - c.age);
        app::remove_leftover_temp_files();
        EXPECT_EQ(!fs::exists(file), c.removed);
        fs::remove(file);
    }
    const fs::path folder = temp / "vano_duvid_5.zip";
    fs::create_directories(folder);
    std::error_code aged; // the Windows runtime cannot date a folder: there it is merely new
    fs::last_write_time(folder, fs::file_time_type::clock::now() - stale, aged);
    app::remove_leftover_temp_files();
    EXPECT_TRUE(fs::is_directory(folder));
}

core::Result<server::LocalListener> failing_listener() { return core::fail("bind refused for the test"); }

TEST_F(Leftovers, AStartInEitherModeRemovesThem)
{
    struct Case {
        std::string_view name;
        std::vector<std::string> args;
    };
    const Case cases[] = {{"normal mode", {}}, {"stdio-port mode", {"--stdio-port"}}};
    const std::string gone = std::to_string(gone_pid);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path session = plant("active_session." + gone + ".tmp", 0s);
        const fs::path config = plant("desktop_config.json.tmp-" + gone + "-1765360000000000000-0", 0s);
        const fs::path other = plant("other.tmp", 0s);
        EXPECT_EQ(app::run_main(c.args, failing_listener), 1);
        EXPECT_FALSE(fs::exists(session));
        EXPECT_FALSE(fs::exists(config));
        EXPECT_TRUE(fs::exists(other));
    }
}

} // namespace
