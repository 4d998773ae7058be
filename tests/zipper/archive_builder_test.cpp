#include "zipper/archive_builder.h"

#include "platform/env.h"
#include "platform/file.h"
#include "platform/os_error.h"
#include "platform/process.h"
#include "platform/unicode.h"
#include "support/as_written.h"
#include "support/special_files.h"
#include "support/scratch_dir.h"
#include "archive_fixture.h"
#include "zip_readers.h"
#include "zipper/limited_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <future>
#include <regex>

namespace {

namespace fs = std::filesystem;
using zip_test::ExpectedEntry;
using zip_test::Order;

struct Selection {
    std::vector<fs::path> paths;
    std::vector<ExpectedEntry> expected;
};

using zip_test::put;
using ArchiveBuilder = zip_test::ArchiveTest;

// NFD spellings: "한글" as conjoining jamo, "é" as e + U+0301.
constexpr std::string_view hangul_nfd = "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB\xE1\x84\x80\xE1\x85\xB3\xE1\x86\xAF";
constexpr std::string_view hangul_nfc = "\xED\x95\x9C\xEA\xB8\x80";
constexpr std::string_view e_acute_nfd = "e\xCC\x81";

std::string str(std::string_view a, std::string_view b = {}, std::string_view c = {})
{
    return std::string(a) + std::string(b) + std::string(c);
}

struct Case {
    std::string_view name;
    // Builds the tree under the folder given; nothing when the platform cannot make it.
    std::function<std::optional<Selection>(const fs::path&)> setup;
    Order order = Order::as_given;
};

const Case cases[] = {
    {"folder with a subfolder gives only file entries",
     [](const fs::path& r) -> std::optional<Selection> {
         put(r / "Photos/a.jpg", "jpeg a");
         put(r / "Photos/sub/b.jpg", "jpeg b");
         fs::create_directories(r / "Photos/empty/deeper");
         return Selection{{r / "Photos"}, {{"Photos/a.jpg", "jpeg a"}, {"Photos/sub/b.jpg", "jpeg b"}}};
     },
     Order::any},
    {"top-level file under its bare name",
     [](const fs::path& r) -> std::optional<Selection> {
         put(r / "x/y/notes.xyz", "some notes\n");
         return Selection{{r / "x/y/notes.xyz"}, {{"notes.xyz", "some notes\n"}}};
     }},
    {"two top-level files of the same name, the later numbered",
     [](const fs::path& r) -> std::optional<Selection> {
         put(r / "d1/same.txt", "one");
         put(r / "d2/same.txt", "two");
         return Selection{{r / "d1/same.txt", r / "d2/same.txt"}, {{"same.txt", "one"}, {"same (2).txt", "two"}}};
     }},
    {"NFD names written in NFC with the UTF-8 flag",
     [](const fs::path& r) -> std::optional<Selection> {
         const auto top = r / platform::path_from_utf8(str(hangul_nfd, ".txt"));
         const auto dir = r / platform::path_from_utf8(str("Caf", e_acute_nfd));
         put(top, "hangul");
         put(dir / platform::path_from_utf8(str(e_acute_nfd, ".txt")), "accent");
         return Selection{{top, dir}, {{str(hangul_nfc, ".txt"), "hangul"}, {"Caf\xC3\xA9/\xC3\xA9.txt", "accent"}}};
     }},
    {"ignored names skipped inside folders and at top level",
     [](const fs::path& r) -> std::optional<Selection> {
         for (const char* n : {".DS_Store", "Thumbs.db", "._photo.jpg", "desktop.ini"})
             put(r / "junk" / n, n);
         put(r / "junk/__MACOSX/inner.txt", "hidden");
         put(r / "kept.txt", "kept");
         return Selection{{r / "junk", r / "junk/.DS_Store", r / "junk/Thumbs.db", r / "junk/._photo.jpg",
                           r / "junk/__MACOSX", r / "kept.txt"},
                          {{"kept.txt", "kept"}}};
     }},
    {"links skipped inside folders and at top level",
     [](const fs::path& r) -> std::optional<Selection> {
         put(r / "target/t.txt", "target file");
         put(r / "withlinks/real.txt", "real");
         if (!test_support::try_symlink(r / "withlinks/real.txt", r / "withlinks/file_link", false) ||
             !test_support::try_symlink(r / "target", r / "withlinks/dir_link", true) ||
             !test_support::try_symlink(r / "target", r / "toplink", true) ||
             !test_support::try_symlink(r / "nowhere", r / "dangling", false))
             return std::nullopt;
         return Selection{{r / "withlinks", r / "toplink", r / "dangling"}, {{"withlinks/real.txt", "real"}}};
     }},
    {"every path gone gives an archive without entries",
     [](const fs::path& r) -> std::optional<Selection> {
         return Selection{{r / "gone.txt", r / "gone-folder"}, {}};
     }},
    {"paths ending in .. or . are named as Rust names them",
     [](const fs::path& r) -> std::optional<Selection> {
         put(r / "box/f.txt", "f");
         fs::create_directories(r / "box/inner");
         put(r / "box2/g.txt", "g");
         return Selection{{r / "box/inner/..", r / "box2/."}, {{"item/f.txt", "f"}, {"box2/g.txt", "g"}}};
     }},
    {"empty file and a file of several chunks",
     [](const fs::path& r) -> std::optional<Selection> {
         std::string big = zip_test::incompressible_bytes(150'000, 7);
         for (int i = 0; big.size() < 300'001; ++i)
             big += "line " + std::to_string(i) + " of some compressible text\n";
         put(r / "empty.txt", "");
         put(r / "big.bin", big);
         return Selection{{r / "empty.txt", r / "big.bin"}, {{"empty.txt", ""}, {"big.bin", big}}};
     }},
    {"names taken as the listing gives them: trailing dot or blank, device names",
     [](const fs::path& r) -> std::optional<Selection> {
         using test_support::put_as_written;
         fs::create_directories(r / "odd");
         fs::create_directories(r / "top");
         put_as_written(r / "odd" / "a.txt.", "BBBB");
         put_as_written(r / "odd" / "NUL.txt", "not the null device");
         put_as_written(r / "odd" / "aux.log", "not the serial port");
         put_as_written(r / "odd" / "b.txt ", "blank at the end");
         put_as_written(r / "top" / "report.", "dot at the end");
         put_as_written(r / "top" / "CON", "not the console");
         return Selection{{r / "odd", r / "top" / "report.", r / "top" / "CON"},
                          {{"odd/a.txt.", "BBBB"},
                           {"odd/NUL.txt", "not the null device"},
                           {"odd/aux.log", "not the serial port"},
                           {"odd/b.txt ", "blank at the end"},
                           {"report.", "dot at the end"},
                           {"CON", "not the console"}}};
     },
     Order::any},
    {"path over 300 characters with long names",
     [](const fs::path& r) -> std::optional<Selection> {
         fs::path dir = r / "long";
         std::string name = "long";
         if (!test_support::make_dir_as_written(dir))
             return std::nullopt;
         for (char c : std::string("abcd")) {
             const std::string part = std::string(90, c);
             dir /= part;
             name += "/" + part;
             if (!test_support::make_dir_as_written(dir))
                 return std::nullopt;
         }
         test_support::put_as_written(dir / "leaf.", "leaf");
         EXPECT_GT(platform::path_to_utf8(dir / "leaf.").size(), 300u);
         return Selection{{r / "long"}, {{name + "/leaf.", "leaf"}}};
     }},
    {"deep tree",
     [](const fs::path& r) -> std::optional<Selection> {
         fs::path dir = r / "deep";
         std::string name = "deep";
         for (int i = 0; i < 300; ++i) {
             dir /= "d";
             name += "/d";
         }
         // Level by level: create_directories gives up on long paths.
         fs::path made = r / "deep";
         fs::create_directory(made);
         std::error_code ec;
         for (const auto& part : dir.lexically_relative(made)) {
             made /= part;
             if (!fs::create_directory(made, ec) || ec)
                 return std::nullopt;
         }
         zip_test::write_bytes(dir / "leaf.txt", "leaf");
         return Selection{{r / "deep"}, {{name + "/leaf.txt", "leaf"}}};
     }},
};

TEST_F(ArchiveBuilder, PacksSelections)
{
    for_each_case(cases, [&](const Case& c, const Selection& selection) {
        std::atomic<std::uint64_t> done{0};
        auto archive = zipper::build_archive(selection.paths, done);
        ASSERT_TRUE(archive) << archive.error();
        EXPECT_EQ(archive->parent_path(), m_tmp);
        EXPECT_TRUE(std::regex_match(platform::path_to_utf8(archive->filename()), std::regex("vano_duvid_[1-9][0-9]*\\.zip")))
            << *archive;
        std::uint64_t total = 0;
        for (const auto& e : selection.expected)
            total += e.content.size();
        EXPECT_EQ(done.load(), total);
        if (selection.expected.empty()) {
            EXPECT_EQ(fs::file_size(*archive), 22u);
        }
        zip_test::expect_archive(*archive, selection.expected, c.order);
        fs::remove(*archive);
    });
}

TEST_F(ArchiveBuilder, HeaderFieldsAsZipinfoShowsThem)
{
    put(m_scratch / "plain.txt", "plain text\n");
    std::atomic<std::uint64_t> done{0};
    auto archive = zipper::build_archive({m_scratch / "plain.txt"}, done);
    ASSERT_TRUE(archive) << archive.error();
    auto shown = zip_test::run_tool("zipinfo", {"-v", platform::path_to_utf8(*archive)});
    if (!shown)
        GTEST_SKIP() << "zipinfo cannot run here";
    for (std::string_view line : {
             "file system or operating system of origin:      Unix",
             "version of encoding software:                   4.6",
             "minimum software version required to extract:   2.0",
             "compression method:                             deflated",
             "compression sub-type (deflation):               normal",
             "file security status:                           not encrypted",
             "extended local header:                          no",
             "file last modified on (DOS date/time):          1980 Jan 1 00:00:00",
             "Unix file attributes (100644 octal):            -rw-r--r--",
             "length of extra field:                          0 bytes",
             "There is no file comment.",
         })
        EXPECT_NE(shown->output.find(line), std::string::npos) << line << "\n" << shown->output;
}

// A chain of new folders below `dir` that ends in a folder whose path is `length`
// characters long (folder names of at most 200 characters); nothing where the platform
// cannot make such long paths (Windows).
std::optional<fs::path> folder_of_length(fs::path dir, std::size_t length)
{
    for (std::size_t have = platform::path_to_utf8(dir).size(); have + 1 < length;) {
        const std::size_t left = length - have; // a separator and a name
        const std::size_t name = left <= 201 ? left - 1 : (left == 202 ? 199 : 200);
        dir /= std::string(name, 'p');
        std::error_code ec;
        if (!fs::create_directory(dir, ec))
            return std::nullopt;
        have += 1 + name;
    }
    return dir;
}

struct FailureCase {
    std::string_view name;
    // Builds the tree; gives the selection, or nothing when the platform cannot make it.
    std::function<std::optional<std::vector<fs::path>>(const fs::path& root, const fs::path& tmp)> setup;
    std::string expected_prefix;
};

TEST_F(ArchiveBuilder, FailuresGiveTheirMessageAndLeaveNoArchive)
{
    const FailureCase failures[] = {
        {"a source that cannot be opened names its entry",
         [](const fs::path& r, const fs::path&) -> std::optional<std::vector<fs::path>> {
             // Docs can be listed and its report.pdf looked up from the open listing, but
             // the file's whole path is longer than POSIX opens (PATH_MAX, 4096 with its
             // NUL), so its open fails, even for root, whom no permission stops. Docs's
             // path has 4087 characters: Docs/a.txt has 4093, Docs/report.pdf 4098.
             const auto parent = folder_of_length(r, 4082);
             if (!parent)
                 return std::nullopt;
             const auto docs = *parent / "Docs";
             fs::create_directory(docs);
             put(docs / "a.txt", "first");
             // Made from inside Docs: its own path is too long to create it by.
             auto made = zip_test::run_tool(
                 "sh", {"-c", "cd \"$1\" && printf pdf > report.pdf", "sh", platform::path_to_utf8(docs)});
             if (!made || made->exit_code != 0)
                 return std::nullopt;
             return std::vector<fs::path>{docs};
         },
         "파일 읽기 실패 (Docs/report.pdf): "},
        {"temporary folder not writable",
         [](const fs::path& r, const fs::path&) -> std::optional<std::vector<fs::path>> {
             put(r / "a.txt", "a");
             // POSIX takes TMPDIR (an existing folder nobody can create files in); Windows
             // takes TMP (a folder that does not exist).
             platform::set_env_var("TMPDIR", "/proc");
             platform::set_env_var("TMP", platform::path_to_utf8(r / "missing"));
             return std::vector<fs::path>{r / "a.txt"};
         },
         "임시 압축파일 생성 실패: "},
    };
    int index = 0;
    for (const auto& c : failures) {
        SCOPED_TRACE(c.name);
        const fs::path root = m_scratch / "src" / std::to_string(index++);
        fs::create_directories(root);
        auto paths = c.setup(root, m_tmp);
        if (!paths) {
            std::cout << "[ note ] " << c.name << ": cannot be set up on this platform\n";
            continue;
        }
        std::atomic<std::uint64_t> done{0};
        auto archive = zipper::build_archive(*paths, done);
        ASSERT_FALSE(archive);
        EXPECT_EQ(archive.error().rfind(c.expected_prefix, 0), 0u) << archive.error();
        EXPECT_NE(archive.error().find(" (os error "), std::string::npos) << archive.error();
        for (const auto& left : leftovers())
            ADD_FAILURE() << "left behind: " << left;
    }
}

#ifndef _WIN32

// Opening a FIFO for reading waits for a writer, so packing one would hold the job in
// "zipping" for good; a socket cannot be opened at all. Items that are neither file nor
// folder are left out, at top level as inside folders, and the archive completes.
TEST_F(ArchiveBuilder, ItemsNeitherFileNorFolderAreSkipped)
{
    using namespace std::chrono_literals;
    const fs::path r = m_scratch / "src";
    put(r / "Docs/a.txt", "alpha");
    put(r / "b.txt", "bravo");
    const std::vector<fs::path> fifos = {r / "top.fifo", r / "Docs/inner.fifo", r / "Docs/sub/deeper.fifo"};
    fs::create_directories(r / "Docs/sub");
    for (const auto& fifo : fifos)
        ASSERT_TRUE(test_support::try_fifo(fifo)) << fifo;
    ASSERT_TRUE(test_support::try_socket(r / "Docs/report.pdf"));

    std::atomic<std::uint64_t> done{0};
    auto building = std::async(std::launch::async, [&] {
        return zipper::build_archive({r / "top.fifo", r / "Docs", r / "b.txt", r / "Docs/report.pdf"}, done);
    });
    if (building.wait_for(60s) != std::future_status::ready) {
        ADD_FAILURE() << "the build is blocked";
        test_support::release_fifo_readers(fifos);
    }
    const auto archive = building.get();
    ASSERT_TRUE(archive) << archive.error();
    EXPECT_EQ(done.load(), 10u);
    zip_test::expect_archive(*archive, {{"Docs/a.txt", "alpha"}, {"b.txt", "bravo"}}, Order::any);
}

#endif

TEST_F(ArchiveBuilder, SourceAndFolderErrorsOfTheParts)
{
    // The parts used by the walk, on inputs the walk itself never reaches.
    put(m_scratch / "dir/x.txt", "x");
    const fs::path out_path = m_scratch / "out.zip";
    auto file = platform::File::create_write(out_path);
    ASSERT_TRUE(file) << file.error();
    zipper::LimitedFile out(std::move(*file), zipper::MAX_ZIP_BYTES);
    zipper::ZipWriter writer(out);
    std::atomic<std::uint64_t> done{0};

    auto listed = zipper::add_dir_to_zip(writer, m_scratch / "no-such-dir", "p", zipper::archive_entry_options, done);
    ASSERT_FALSE(listed);
    EXPECT_EQ(listed.error().rfind("폴더 열기 실패: ", 0), 0u) << listed.error();
    EXPECT_NE(listed.error().find(" (os error "), std::string::npos) << listed.error();

    auto opened = zipper::add_file_to_zip(writer, m_scratch / "missing.txt", "p/missing.txt", zipper::archive_entry_options, done);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().rfind("파일 읽기 실패 (p/missing.txt): ", 0), 0u) << opened.error();

    // POSIX opens a folder for reading and fails its first read; Windows refuses the open.
    if (platform::File::open_read(m_scratch / "dir")) {
        auto read = zipper::add_file_to_zip(writer, m_scratch / "dir", "p/dir", zipper::archive_entry_options, done);
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().rfind("파일 읽기 오류 (p/dir): ", 0), 0u) << read.error();
    }
    EXPECT_EQ(done.load(), 0u);
}

} // namespace
