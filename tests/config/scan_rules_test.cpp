#include "config/scan_rules.h"

#include "platform/unicode.h"
#include "support/fake_listing.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace {

namespace fs = std::filesystem;
using test_support::FakeListing;
using test_support::put_file;

const std::string count_message = "폴더 내 파일 수가 너무 많습니다 (최대 5000개까지 공유 가능).";
const std::string size_message =
    "폴더·묶음 원본 용량이 너무 큽니다 (압축 후 최대 500MB까지만 공유 가능 / 동영상은 개별 파일 우클릭 시 1GB 지원).";

void sparse_file(const fs::path& p, std::uintmax_t size)
{
    put_file(p, "");
    fs::resize_file(p, size);
}

void many_files(const fs::path& dir, int n)
{
    fs::create_directories(dir);
    for (int i = 0; i < n; ++i)
        put_file(dir / ("f" + std::to_string(i) + ".txt"), "x");
}

TEST(ScanRules, IgnoredEntries)
{
    struct Case {
        std::string_view name;
        bool ignored;
    };
    const Case cases[] = {
        {".DS_Store", true},   {"__MACOSX", true},    {"Thumbs.db", true},  {"desktop.ini", true},
        {"Icon\r", true},      {"._photo.jpg", true}, {"._", true},         {"thumbs.db", false},
        {"Desktop.ini", false}, {"Icon", false},      {"Icon\r\n", false},  {"_x", false},
        {"a._b", false},       {"__macosx", false},   {".DS_Store2", false}, {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(config::is_ignored_entry(c.name), c.ignored);
    }
}

TEST(ScanRules, SanitizeName)
{
    struct Case {
        std::string_view name;
        std::string in;
        std::string out;
    };
    const std::string letters45(45, 'a');
    const std::string letters39(39, 'b');
    const Case cases[] = {
        {"hangul and digits", "보고서 2024 최종", "보고서_2024_최종"},
        {"dots and brackets", "My.Report (final)", "My_Report_final"},
        {"run at the start dropped", "((hello))", "hello"},
        {"underscore before a run stays", "a _b", "a__b"},
        {"run after an underscore dropped", "a_ b", "a_b"},
        {"first 40 characters", letters45, std::string(40, 'a')},
        {"cut after the trim keeps an underscore", letters39 + " c", letters39 + "_"},
        {"full-width letters only", "\xEF\xBC\xA1\xEF\xBC\xA2", ""},
        {"decomposed jamo composed and kept", "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB", "\xED\x95\x9C"},
        {"compatibility jamo replaced", "a\xE3\x84\xB1" "b", "a_b"},
        {"accented latin replaced", "caf\xC3\xA9 bar", "caf_bar"},
        {"hyphen kept, underscores trimmed", "__a-b__", "a-b"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(config::sanitize_name(c.in), c.out);
    }
    std::string hangul45, hangul40;
    for (int i = 0; i < 45; ++i)
        hangul45 += "가";
    for (int i = 0; i < 40; ++i)
        hangul40 += "가";
    EXPECT_EQ(config::sanitize_name(hangul45), hangul40);
}

TEST(ScanRules, LastComponentText)
{
    struct Case {
        std::string_view name;
        fs::path path;
        std::optional<std::string> want;
    };
    const Case cases[] = {
        {"file", fs::path("a") / "b.txt", "b.txt"},
        {"trailing separator", fs::path("a") / "b" / "", "b"},
        {"trailing dot element", fs::path("a") / "b" / ".", "b"},
        {"ends in ..", fs::path("a") / "..", std::nullopt},
        {"root", fs::path("/"), std::nullopt},
        {"korean", platform::path_from_utf8("폴더/사진.jpg"), "사진.jpg"},
        {"empty", fs::path(), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(config::last_component_text(c.path), c.want);
    }
}

class Scan : public ::testing::Test {
protected:
    test_support::ScratchDir dir;
    fs::path root() const { return dir / "sel"; }
};

TEST_F(Scan, TotalsAndMessages)
{
    struct Case {
        std::string_view name;
        std::function<void(const fs::path&)> build;
        std::string path; // below the root; empty for the root itself
        std::optional<std::string> message;
        std::uint64_t raw, files;
    };
    const Case cases[] = {
        {"exactly the size limit passes",
         [](const fs::path& r) {
             fs::create_directories(r / "sub");
             sparse_file(r / "sub" / "a.bin", config::MAX_SCAN_RAW_BYTES - 1);
             put_file(r / "b.txt", "x");
         },
         "", std::nullopt, config::MAX_SCAN_RAW_BYTES, 2},
        {"one byte more is refused",
         [](const fs::path& r) {
             fs::create_directories(r);
             sparse_file(r / "a.bin", config::MAX_SCAN_RAW_BYTES + 1);
         },
         "", size_message, config::MAX_SCAN_RAW_BYTES + 1, 1},
        {"ignored names skipped, other letter cases counted",
         [](const fs::path& r) {
             fs::create_directories(r / "__MACOSX" / "deep");
             put_file(r / "__MACOSX" / "deep" / "x.txt", "12345");
             put_file(r / "._x.pdf", "12");
             // Apart from their case variants: Windows folders ignore letter case.
             fs::create_directories(r / "exact");
             put_file(r / "exact" / ".DS_Store", "12");
             put_file(r / "exact" / "Thumbs.db", "12");
             put_file(r / "exact" / "desktop.ini", "12");
             put_file(r / "thumbs.db", "123");
             put_file(r / "Desktop.INI", "1234");
         },
         "", std::nullopt, 7, 2},
        {"ignored selected item", [](const fs::path& r) { fs::create_directories(r); put_file(r / "Thumbs.db", "x"); },
         "Thumbs.db", std::nullopt, 0, 0},
        {"single file", [](const fs::path& r) { fs::create_directories(r); put_file(r / "a.bin", "abc"); }, "a.bin",
         std::nullopt, 3, 1},
        {"empty files counted", [](const fs::path& r) {
             fs::create_directories(r / "e");
             put_file(r / "e" / "1", "");
             put_file(r / "2", "");
         },
         "", std::nullopt, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root());
        c.build(root());
        std::uint64_t raw = 0, files = 0;
        const auto r = config::scan_folder(c.path.empty() ? root() : root() / c.path, raw, files);
        EXPECT_EQ(r ? std::nullopt : std::optional<std::string>(r.error()), c.message);
        EXPECT_EQ(raw, c.raw);
        EXPECT_EQ(files, c.files);
    }
}

TEST_F(Scan, FileCountLimit)
{
    many_files(root(), 5000);
    struct Case {
        std::string_view name;
        std::uint64_t files_before;
        std::optional<std::string> message;
        std::uint64_t raw, files;
    };
    // A count already at 1 makes the 5000th file here the 5001st, whose size is not added.
    const Case cases[] = {
        {"5000 files pass", 0, std::nullopt, 5000, 5000},
        {"the 5001st file is refused", 1, count_message, 4999, 5001},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint64_t raw = 0, files = c.files_before;
        const auto r = config::scan_folder(root(), raw, files);
        EXPECT_EQ(r ? std::nullopt : std::optional<std::string>(r.error()), c.message);
        EXPECT_EQ(raw, c.raw);
        EXPECT_EQ(files, c.files);
    }
}

TEST_F(Scan, MissingPathAndSaturation)
{
    std::uint64_t raw = 0, files = 0;
    const auto missing = config::scan_folder(dir / "missing", raw, files);
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().starts_with("경로 확인 실패: ")) << missing.error();
    EXPECT_TRUE(missing.error().ends_with(" (os error 2)")) << missing.error();

    put_file(dir / "ten.bin", "0123456789");
    const auto max = std::numeric_limits<std::uint64_t>::max();
    raw = max - 5;
    files = 0;
    EXPECT_EQ(config::scan_folder(dir / "ten.bin", raw, files).error(), size_message);
    EXPECT_EQ(raw, max);
    raw = 0;
    files = max;
    EXPECT_EQ(config::scan_folder(dir / "ten.bin", raw, files).error(), count_message);
    EXPECT_EQ(files, max);
}

TEST_F(Scan, LinksCountForNothing)
{
    fs::create_directories(root() / "real");
    put_file(root() / "real" / "a.txt", "abc");
    put_file(dir / "outside.bin", "0123456789");
    fs::create_directories(dir / "outdir");
    put_file(dir / "outdir" / "x", "12345");
    if (!test_support::try_symlink(dir / "outside.bin", root() / "file_link", false) ||
        !test_support::try_symlink(dir / "outdir", root() / "dir_link", true))
        GTEST_SKIP() << "symbolic links cannot be created here (Windows without the privilege, or wine)";
    std::uint64_t raw = 0, files = 0;
    ASSERT_TRUE(config::scan_folder(root(), raw, files));
    EXPECT_EQ(raw, 3u);
    EXPECT_EQ(files, 1u);
    for (const auto* link : {"file_link", "dir_link"}) {
        raw = files = 0;
        ASSERT_TRUE(config::scan_folder(root() / link, raw, files));
        EXPECT_EQ(raw + files, 0u) << link;
    }
}

TEST_F(Scan, FailingListings)
{
    fs::create_directories(root());
    put_file(root() / "a.txt", "abc");
    put_file(root() / "b.txt", "de");
    int calls = 0;
    const auto listing = [&](int errors, std::vector<fs::path> paths, int tail, int gap = 0) {
        return test_support::fake_lister(
            [=, &calls] { return std::make_unique<FakeListing>(errors, paths, tail, calls, gap); });
    };
    struct Case {
        std::string_view name;
        config::ListDirFn lister;
        std::optional<std::string> message;
        std::uint64_t raw, files;
    };
    const fs::path a = root() / "a.txt", b = root() / "b.txt";
    constexpr int limit = config::MAX_CONSECUTIVE_ENTRY_ERRORS;
    const Case cases[] = {
        {"listing cannot be opened",
         [](const fs::path&) -> core::Result<std::unique_ptr<platform::DirListing>> {
             return core::fail("Permission denied (os error 13)");
         },
         "폴더 읽기 실패: Permission denied (os error 13)", 0, 0},
        {"unreadable entries skipped", listing(3, {a, b}, 2), std::nullopt, 5, 2},
        {"a listing that fails for ever still ends", listing(0, {a}, -1), std::nullopt, 3, 1},
        {"one short of the limit in a row, the next entry is read", listing(limit - 1, {a}, 0), std::nullopt, 3, 1},
        {"at the limit in a row the listing counts as finished", listing(limit, {a}, 0), std::nullopt, 0, 0},
        {"one past the limit in a row", listing(limit + 1, {a}, 0), std::nullopt, 0, 0},
        {"a readable entry starts the count again", listing(0, {a, b}, 0, limit - 1), std::nullopt, 5, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        calls = 0;
        std::uint64_t raw = 0, files = 0;
        const auto r = config::scan_folder_with(root(), raw, files, c.lister);
        EXPECT_EQ(r ? std::nullopt : std::optional<std::string>(r.error()), c.message);
        EXPECT_EQ(raw, c.raw);
        EXPECT_EQ(files, c.files);
        EXPECT_LT(calls, 1000);
    }
}

// The folders a recursive walk lists, in its order: the reference for the iterative one.
void recursive_order(const fs::path& p, std::vector<fs::path>& out)
{
    if (fs::is_symlink(p) || !fs::is_directory(p))
        return;
    out.push_back(p);
    for (const auto& e : fs::directory_iterator(p))
        recursive_order(e.path(), out);
}

// Whether a folder `depth` levels down can be made and listed, by both the standard
// library and the code under test (Windows limits paths to 260 characters).
bool long_paths_work(const fs::path& root, int depth)
{
    fs::path p = root;
    for (int i = 0; i < depth; ++i)
        p /= "d";
    std::error_code ec;
    fs::create_directories(p, ec);
    const bool ok = !ec && fs::directory_iterator(p, ec) == fs::directory_iterator() && !ec &&
                    platform::list_dir(p).has_value();
    fs::remove_all(root, ec);
    return ok;
}

TEST_F(Scan, DepthFirstOrderOnDeepTrees)
{
    struct Case {
        std::string_view name;
        int depth;
    };
    // Both pass the number of listings kept open; 600 levels need paths longer than the
    // Windows limit.
    const Case cases[] = {{"deeper than the open listings", 80}, {"very deep", 600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root());
        std::error_code ec;
        if (!long_paths_work(root(), c.depth)) {
            std::cout << "[ SKIPPED  ] " << c.name << ": paths this long cannot be listed here\n";
            continue;
        }
        fs::path p = root();
        for (int i = 0; i < c.depth && !ec; ++i) {
            fs::create_directories(p / "s", ec);
            if (!ec)
                put_file(p / "s" / "f", "1");
            if (!ec)
                put_file(p / "f", "22");
            p /= "d";
        }
        if (ec || !fs::exists(p.parent_path() / "f")) {
            std::cout << "[ SKIPPED  ] " << c.name << ": paths this long cannot be made here\n";
            continue;
        }
        std::vector<fs::path> want, got;
        recursive_order(root(), want);
        std::uint64_t raw = 0, files = 0;
        const auto r = config::scan_folder_with(root(), raw, files, [&](const fs::path& d) {
            got.push_back(d);
            return platform::list_dir(d);
        });
        ASSERT_TRUE(r) << r.error();
        EXPECT_EQ(files, 2u * c.depth);
        EXPECT_EQ(raw, 3u * c.depth);
        EXPECT_EQ(got, want);
    }
}

} // namespace
