// The files that hold the API key, the local token or the user's packed files are the
// user's alone on a POSIX system, whatever the umask lets through.
#include "config/desktop_config.h"
#include "main/single_instance.h"
#include "platform/unicode.h"
#include "support/scratch_dir.h"
#include "zipper/archive_builder.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using test_support::ScopedEnv;
using test_support::ScratchDir;

// The permission bits as stat reports them, in octal ("0600"), or "missing".
std::string mode_of(const fs::path& p)
{
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0)
        return "missing";
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return text;
}

// The common umask, under which a file created with mode 0666 comes out 0644.
class Umask022 {
public:
    Umask022() : m_old(::umask(022)) {}
    ~Umask022() { ::umask(m_old); }
    Umask022(const Umask022&) = delete;
    Umask022& operator=(const Umask022&) = delete;

private:
    mode_t m_old;
};

struct Made {
    fs::path file;
    std::vector<fs::path> new_folders; // created by the program
    std::vector<fs::path> old_folders; // there before, with mode 0755
};

TEST(PrivateFiles, SecretsAndArchivesAreTheUsersAlone)
{
    const config::DesktopConfig account{"https://files.example.org", "key-1", "kim", "", "", "member"};
    struct Case {
        std::string_view name;
        std::function<Made(const fs::path& root)> make;
    };
    const Case cases[] = {
        {"configuration saved into new folders",
         [&](const fs::path& root) {
             const ScopedEnv appdata("APPDATA", platform::path_to_utf8(root / "new" / "appdata"));
             EXPECT_TRUE(config::save_config(account));
             return Made{config::config_file_path(),
                         {root / "new", root / "new" / "appdata", config::config_dir()},
                         {root}};
         }},
        {"configuration saved over a readable file in an existing folder",
         [&](const fs::path& root) {
             const ScopedEnv appdata("APPDATA", platform::path_to_utf8(root));
             fs::create_directories(config::config_dir());
             ::chmod(config::config_dir().c_str(), 0755);
             test_support::put_file(config::config_file_path(), "{}");
             ::chmod(config::config_file_path().c_str(), 0644);
             EXPECT_TRUE(config::save_config(account));
             return Made{config::config_file_path(), {}, {root, config::config_dir()}};
         }},
        {"credentials cleared",
         [&](const fs::path& root) {
             const ScopedEnv appdata("APPDATA", platform::path_to_utf8(root));
             EXPECT_TRUE(config::clear_credentials());
             return Made{config::config_file_path(), {config::config_dir()}, {root}};
         }},
        {"session published",
         [&](const fs::path& root) {
             const ScopedEnv appdata("APPDATA", platform::path_to_utf8(root));
             app::publish_active_session(4321, "0123456789abcdef0123456789abcdef");
             return Made{app::active_session_path(), {config::config_dir()}, {root}};
         }},
        {"session published over a stale readable temporary file",
         [&](const fs::path& root) {
             const ScopedEnv appdata("APPDATA", platform::path_to_utf8(root));
             fs::create_directories(config::config_dir());
             ::chmod(config::config_dir().c_str(), 0755);
             const auto stale = config::config_dir() / ("active_session." + std::to_string(::getpid()) + ".tmp");
             test_support::put_file(stale, "old");
             ::chmod(stale.c_str(), 0644);
             app::publish_active_session(4321, "0123456789abcdef0123456789abcdef");
             return Made{app::active_session_path(), {}, {root, config::config_dir()}};
         }},
        {"selection packed",
         [&](const fs::path& root) {
             fs::create_directories(root / "tmp");
             ::chmod((root / "tmp").c_str(), 0755);
             const ScopedEnv tmpdir("TMPDIR", platform::path_to_utf8(root / "tmp"));
             test_support::put_file(root / "a.txt", "the user's own words");
             std::atomic<std::uint64_t> done{0};
             const auto archive = zipper::build_archive({root / "a.txt"}, done);
             EXPECT_TRUE(archive) << (archive ? "" : archive.error());
             return Made{archive ? *archive : root / "no archive", {}, {root / "tmp"}};
         }},
    };
    const Umask022 umask;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ScratchDir scratch;
        ::chmod(scratch.path().c_str(), 0755);
        const Made made = c.make(scratch.path());
        EXPECT_EQ(mode_of(made.file), "0600") << made.file;
        for (const auto& dir : made.new_folders)
            EXPECT_EQ(mode_of(dir), "0700") << dir;
        for (const auto& dir : made.old_folders)
            EXPECT_EQ(mode_of(dir), "0755") << dir << " was not the program's to change";
    }
}

} // namespace
#endif
