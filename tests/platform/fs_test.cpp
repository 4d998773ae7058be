#include "platform/fs.h"

#include "platform/child_process.h"
#include "platform/env.h"
#include "platform/file.h"
#include "platform/file_claim.h"
#include "platform/os_error.h"
#include "platform/unicode.h"
#include "support/special_files.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;
using platform::FollowLinks;

using test_support::file_bytes;
using test_support::put_file;

bool ends_with(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

class Fs : public ::testing::Test {
protected:
    test_support::ScratchDir dir;
};

TEST_F(Fs, MetaOfFilesAndFolders)
{
    put_file(dir / "file.bin", "12345");
    fs::create_directory(dir / "sub");
    // Sparse: a size past 4 GiB needs the high half of the size fields.
    {
        std::ofstream(dir / "big.bin").close();
        fs::resize_file(dir / "big.bin", 5'000'000'000ull);
    }
    struct Case {
        std::string_view name;
        fs::path path;
        bool is_dir;
        std::uint64_t size;
    };
    const Case cases[] = {
        {"file", dir / "file.bin", false, 5},
        {"folder", dir / "sub", true, 0},
        {"over 4 GiB", dir / "big.bin", false, 5'000'000'000ull},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto follow : {FollowLinks::no, FollowLinks::yes}) {
            const auto meta = platform::file_meta(c.path, follow);
            ASSERT_TRUE(meta) << meta.error();
            EXPECT_EQ(meta->is_dir, c.is_dir);
            EXPECT_EQ(meta->is_regular_file, !c.is_dir);
            EXPECT_FALSE(meta->is_name_surrogate);
            if (!c.is_dir) {
                EXPECT_EQ(meta->size, c.size);
            }
        }
    }
}

TEST_F(Fs, MissingPathGivesOsErrorText)
{
    // ENOENT and ERROR_FILE_NOT_FOUND are both 2.
    for (auto follow : {FollowLinks::no, FollowLinks::yes}) {
        const auto meta = platform::file_meta(dir / "missing.txt", follow);
        ASSERT_FALSE(meta);
        EXPECT_TRUE(ends_with(meta.error(), " (os error 2)")) << meta.error();
        EXPECT_GT(meta.error().size(), std::string_view(" (os error 2)").size());
    }
    EXPECT_EQ(platform::os_error_text(2), platform::file_meta(dir / "missing.txt", FollowLinks::no).error());
}

TEST_F(Fs, LinksAreNameSurrogatesUnlessFollowed)
{
    put_file(dir / "target.pdf", "abc");
    fs::create_directory(dir / "folder");
    if (!test_support::try_symlink(dir / "target.pdf", dir / "to_file", false) ||
        !test_support::try_symlink(dir / "folder", dir / "to_folder", true) ||
        !test_support::try_symlink(dir / "gone", dir / "dangling", false))
        GTEST_SKIP() << "symbolic links cannot be created here (Windows without the privilege, or wine)";
    struct Case {
        std::string_view name;
        fs::path path;
        bool followed_ok;
        bool followed_dir;
        std::uint64_t followed_size;
    };
    const Case cases[] = {
        {"link to file", dir / "to_file", true, false, 3},
        {"link to folder", dir / "to_folder", true, true, 0},
        {"dangling link", dir / "dangling", false, false, 0},
    };
    auto listing = platform::list_dir(dir.path());
    ASSERT_TRUE(listing);
    int links = 0;
    while (auto entry = (*listing)->next()) {
        ASSERT_TRUE(*entry);
        const auto meta = (*listing)->entry_meta(**entry);
        ASSERT_TRUE(meta) << meta.error();
        links += meta->is_name_surrogate ? 1 : 0;
    }
    EXPECT_EQ(links, 3);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto own = platform::file_meta(c.path, FollowLinks::no);
        ASSERT_TRUE(own) << own.error();
        EXPECT_TRUE(own->is_name_surrogate);
        EXPECT_FALSE(own->is_regular_file);
        const auto followed = platform::file_meta(c.path, FollowLinks::yes);
        ASSERT_EQ(followed.has_value(), c.followed_ok);
        if (followed) {
            EXPECT_FALSE(followed->is_name_surrogate);
            EXPECT_EQ(followed->is_dir, c.followed_dir);
            EXPECT_EQ(followed->is_regular_file, !c.followed_dir);
            if (!c.followed_dir) {
                EXPECT_EQ(followed->size, c.followed_size);
            }
        }
    }
}

#ifndef _WIN32

// A FIFO and a socket have metadata but are no plain files; neither is a folder.
TEST_F(Fs, FifosAndSocketsAreNeitherFileNorFolder)
{
    ASSERT_TRUE(test_support::try_fifo(dir / "pipe"));
    ASSERT_TRUE(test_support::try_socket(dir / "sock"));
    for (const char* name : {"pipe", "sock"}) {
        SCOPED_TRACE(name);
        for (auto follow : {FollowLinks::no, FollowLinks::yes}) {
            const auto meta = platform::file_meta(dir / name, follow);
            ASSERT_TRUE(meta) << meta.error();
            EXPECT_FALSE(meta->is_dir);
            EXPECT_FALSE(meta->is_regular_file);
            EXPECT_FALSE(meta->is_name_surrogate);
        }
    }
    auto listing = platform::list_dir(dir.path());
    ASSERT_TRUE(listing);
    int entries = 0;
    while (auto entry = (*listing)->next()) {
        ASSERT_TRUE(*entry);
        const auto meta = (*listing)->entry_meta(**entry);
        ASSERT_TRUE(meta) << meta.error();
        EXPECT_FALSE(meta->is_dir || meta->is_regular_file) << **entry;
        ++entries;
    }
    EXPECT_EQ(entries, 2);
}

#endif

#ifdef _WIN32

// A pipe or a device named as an item, as "\\.\pipe\..." or "\\.\NUL", is no file of
// the disk and no folder, however its metadata is read.
TEST_F(Fs, PipesAndDevicesAreNeitherFileNorFolder)
{
    const std::string pipe_name = "\\\\.\\pipe\\vano-test-" + std::to_string(platform::process_id());
    auto server = platform::ChildProcess::start(VANO_PIPE_SERVER, {pipe_name});
    ASSERT_TRUE(server) << server.error();
    const auto ready = server->read_stdout_line(std::chrono::seconds(30));
    ASSERT_TRUE(ready && ready->starts_with("ready")) << (ready ? *ready : ready.error());
    struct Case {
        std::string_view name;
        fs::path path;
        bool followed_meta; // opened by its name, it gives metadata (a pipe always does)
    };
    const Case cases[] = {
        {"named pipe", platform::path_from_utf8(pipe_name), true},
        {"null device", fs::path(L"\\\\.\\NUL"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto follow : {FollowLinks::no, FollowLinks::yes}) {
            // Without opening it, some systems give no metadata at all (wine: "Bad device type").
            const auto meta = platform::file_meta(c.path, follow);
            if (follow == FollowLinks::yes && c.followed_meta) {
                EXPECT_TRUE(meta) << meta.error();
            }
            if (meta) {
                EXPECT_FALSE(meta->is_dir);
                EXPECT_FALSE(meta->is_regular_file);
                EXPECT_FALSE(meta->is_name_surrogate);
            }
        }
    }
    server->kill();
}

// Access to a folder, or to a read-only file where the OS will not replace one, is denied
// for good: the rename fails at once instead of waiting out the two seconds given to a
// reader that holds the target. (Wine replaces a read-only file; Windows refuses.)
TEST_F(Fs, RenameOverAFolderOrReadOnlyFileFailsAtOnce)
{
    struct Case {
        std::string_view name;
        std::function<void(const fs::path&)> make_target;
        bool may_replace;
    };
    const Case cases[] = {
        {"folder", [](const fs::path& p) { fs::create_directory(p); }, false},
        {"read-only file",
         [](const fs::path& p) {
             put_file(p, "old");
             fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                             fs::perm_options::remove);
         },
         true},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto from = dir / ("from" + std::to_string(index));
        const auto to = dir / ("to" + std::to_string(index++));
        put_file(from, "new");
        c.make_target(to);
        const auto started = std::chrono::steady_clock::now();
        const auto renamed = platform::rename_replace(from, to);
        const auto took = std::chrono::steady_clock::now() - started;
        // What is measured is the wait itself: one attempt, not two seconds of them.
        EXPECT_LT(took, std::chrono::milliseconds(1500));
        if (renamed && c.may_replace) {
            EXPECT_EQ(file_bytes(to), "new");
        } else {
            EXPECT_FALSE(renamed);
            EXPECT_EQ(file_bytes(from), "new");
        }
        fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
    }
}

#endif

TEST_F(Fs, ListingGivesEveryEntryOnce)
{
    const std::set<std::string> names = {"a.txt", "\xEC\x82\xAC\xEC\xA7\x84.jpg", "sub", ".hidden"};
    for (const auto& n : names) {
        if (n == "sub")
            fs::create_directory(dir / "sub");
        else
            put_file(dir / platform::path_from_utf8(n), std::string(n.size(), 'x'));
    }
    put_file(dir / "sub" / "inner.txt", "y");
    auto listing = platform::list_dir(dir.path());
    ASSERT_TRUE(listing) << listing.error();
    std::multiset<std::string> seen;
    while (auto entry = (*listing)->next()) {
        ASSERT_TRUE(*entry) << entry->error();
        EXPECT_EQ((*entry)->parent_path(), dir.path());
        seen.insert(platform::path_to_utf8((*entry)->filename()));
        // The listing's own metadata agrees with a lookup by path.
        const auto from_listing = (*listing)->entry_meta(**entry);
        const auto by_path = platform::file_meta(**entry, FollowLinks::no);
        ASSERT_TRUE(from_listing && by_path);
        EXPECT_EQ(from_listing->is_dir, by_path->is_dir);
        EXPECT_EQ(from_listing->is_regular_file, by_path->is_regular_file);
        EXPECT_EQ(from_listing->size, by_path->size);
        EXPECT_FALSE(from_listing->is_name_surrogate);
    }
    EXPECT_EQ(seen, std::multiset<std::string>(names.begin(), names.end()));

    auto empty = platform::list_dir(dir / "sub" / "..");
    ASSERT_TRUE(empty);
}

TEST_F(Fs, ListingFailures)
{
    put_file(dir / "file.txt", "x");
    for (const auto& p : {dir / "missing", dir / "file.txt"}) {
        SCOPED_TRACE(platform::path_to_utf8(p));
        const auto listing = platform::list_dir(p);
        ASSERT_FALSE(listing);
        EXPECT_NE(listing.error().find(" (os error "), std::string::npos) << listing.error();
    }
}

TEST_F(Fs, WritesAndReads)
{
    const std::string bytes("line\r\n\0\xFF end", 12);
    const auto plain = dir / "plain.bin";
    ASSERT_TRUE(platform::write_file(plain, "longer old content that must vanish"));
    ASSERT_TRUE(platform::write_file(plain, bytes));
    EXPECT_EQ(file_bytes(plain), bytes);
    const auto back = platform::read_file(plain);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(*back, bytes);

    const auto atomic = dir / "atomic.json";
    put_file(atomic, "old");
    ASSERT_TRUE(platform::write_file_atomic(atomic, bytes));
    EXPECT_EQ(file_bytes(atomic), bytes);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

    for (const auto& r : {platform::write_file(dir / "no" / "x", "a"), platform::write_file_atomic(dir / "no" / "x", "a")}) {
        ASSERT_FALSE(r);
        EXPECT_NE(r.error().find(" (os error "), std::string::npos) << r.error();
    }
    EXPECT_FALSE(platform::read_file(dir / "missing"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST_F(Fs, FoldersRenameRemoveCopy)
{
    const auto deep = dir / "a" / "b" / "c";
    ASSERT_TRUE(platform::create_dirs(deep));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(platform::create_dirs(deep));
    put_file(dir / "file", "x");
    EXPECT_FALSE(platform::create_dirs(dir / "file" / "sub"));

    put_file(dir / "from", "new");
    put_file(dir / "to", "old");
    ASSERT_TRUE(platform::rename_replace(dir / "from", dir / "to"));
    EXPECT_FALSE(fs::exists(dir / "from"));
    EXPECT_EQ(file_bytes(dir / "to"), "new");

    put_file(dir / "copy", "stale");
    ASSERT_TRUE(platform::copy_file(dir / "to", dir / "copy"));
    EXPECT_EQ(file_bytes(dir / "copy"), "new");
    EXPECT_FALSE(platform::copy_file(dir / "missing", dir / "copy"));

    ASSERT_TRUE(platform::remove_file(dir / "copy"));
    EXPECT_FALSE(fs::exists(dir / "copy"));
    EXPECT_FALSE(platform::remove_file(dir / "copy"));
}

// A reader holding the target open for a moment must not make the replacement fail.
TEST_F(Fs, RenameReplacesATargetThatAReaderHoldsForAMoment)
{
    put_file(dir / "from", "new");
    put_file(dir / "to", "old");
    auto reader = std::make_unique<std::ifstream>(dir / "to", std::ios::binary);
    ASSERT_TRUE(reader->is_open());
    std::thread closer([&reader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        reader.reset();
    });
    const auto renamed = platform::rename_replace(dir / "from", dir / "to");
    closer.join();
    ASSERT_TRUE(renamed) << renamed.error();
    EXPECT_FALSE(fs::exists(dir / "from"));
    EXPECT_EQ(file_bytes(dir / "to"), "new");
}

// The OS would read these paths only up to the NUL and reach real.pdf, sub or a new
// file beside them; every function must fail as for a missing file and touch nothing.
TEST_F(Fs, PathsHoldingNulNameNoFile)
{
    put_file(dir / "real.pdf", "secret");
    put_file(dir / "other.txt", "other");
    fs::create_directory(dir / "sub");
    const auto with_nul = [&](std::string_view head, std::string_view tail) {
        return platform::path_from_utf8(platform::path_to_utf8(dir / platform::path_from_utf8(head)) + '\0' +
                                        std::string(tail));
    };
    const fs::path real = with_nul("real.pdf", "/../clip.mp4");
    const fs::path folder = with_nul("sub", "x");
    const fs::path fresh = with_nul("new.txt", "x");
    const auto error_of = [](const auto& result) { return result ? std::string("succeeded") : result.error(); };
    struct Case {
        std::string_view name;
        std::function<std::string()> run; // the error text
    };
    const Case cases[] = {
        {"metadata", [&] { return error_of(platform::file_meta(real, FollowLinks::no)); }},
        {"metadata, links followed", [&] { return error_of(platform::file_meta(real, FollowLinks::yes)); }},
        {"folder metadata", [&] { return error_of(platform::file_meta(folder, FollowLinks::yes)); }},
        {"listing", [&] { return error_of(platform::list_dir(folder)); }},
        {"whole read", [&] { return error_of(platform::read_file(real)); }},
        {"open for reading", [&] { return error_of(platform::File::open_read(real)); }},
        {"open for writing", [&] { return error_of(platform::File::create_write(fresh)); }},
        {"overwrite by opening", [&] { return error_of(platform::File::create_write(real)); }},
        {"whole write", [&] { return error_of(platform::write_file(fresh, "x")); }},
        {"synced write over a file", [&] { return error_of(platform::write_file_synced(real, "x")); }},
        {"atomic write over a file", [&] { return error_of(platform::write_file_atomic(real, "x")); }},
        {"create folders", [&] { return error_of(platform::create_dirs(with_nul("made", "x"))); }},
        {"remove", [&] { return error_of(platform::remove_file(real)); }},
        {"rename from", [&] { return error_of(platform::rename_replace(real, dir / "moved")); }},
        {"rename over", [&] { return error_of(platform::rename_replace(dir / "other.txt", real)); }},
        {"copy from", [&] { return error_of(platform::copy_file(real, dir / "copied")); }},
        {"copy over", [&] { return error_of(platform::copy_file(dir / "other.txt", real)); }},
        {"claim file", [&] { return error_of(platform::create_new_file(fresh, "x")); }},
        {"modification time", [&] { return error_of(platform::file_modified_ns(real)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // ENOENT and ERROR_FILE_NOT_FOUND are both 2.
        EXPECT_EQ(c.run(), platform::os_error_text(2));
        EXPECT_EQ(file_bytes(dir / "real.pdf"), "secret");
        EXPECT_EQ(file_bytes(dir / "other.txt"), "other");
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            names.insert(platform::path_to_utf8(entry.path().filename()));
        EXPECT_EQ(names, (std::set<std::string>{"other.txt", "real.pdf", "sub"}));
    }
    EXPECT_TRUE(platform::check_no_nul(dir / "real.pdf"));
    EXPECT_FALSE(platform::check_no_nul(real));
}

TEST(FsExe, CurrentExePathIsThisTestProgram)
{
    const auto exe = platform::current_exe_path();
    ASSERT_TRUE(exe) << exe.error();
    EXPECT_EQ(exe->stem(), "platform_tests");
    EXPECT_TRUE(fs::is_regular_file(*exe));
}

} // namespace
