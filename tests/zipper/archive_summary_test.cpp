// The summary the page shows and the archive that is uploaded agree: as many entries as
// the summary counts files, as many bytes as it counts, and no two entries that unpack to
// one file.

#include "archive_fixture.h"
#include "config/scan_rules.h"
#include "config/selection.h"
#include "platform/unicode.h"
#include "support/fake_listing.h"
#include "support/as_written.h"
#include "support/special_files.h"
#include "zip_readers.h"
#include "zipper/archive_builder.h"
#include "zipper/limited_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

namespace {

namespace fs = std::filesystem;
using zip_test::put;
using ArchiveSummary = zip_test::ArchiveTest;

fs::path utf8(const fs::path& dir, std::string_view name) { return dir / platform::path_from_utf8(name); }

std::size_t entries_in(const fs::path& dir)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

std::string from_hex(const std::string& hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// "é" as NFC and as e + U+0301.
constexpr std::string_view cafe_nfc = "caf\xC3\xA9";
constexpr std::string_view cafe_nfd = "cafe\xCC\x81";

std::string str(std::string_view a, std::string_view b = {}) { return std::string(a) + std::string(b); }

struct Packing {
    std::vector<fs::path> select;
    // The archive's names must be one of these sets (which twin keeps its name follows the
    // listing's order).
    std::vector<std::vector<std::string>> names;
    // Every entry's content, in any order.
    std::vector<std::string> contents;
    // Entries whose content is known by name.
    std::map<std::string, std::string> pinned = {};
};

struct Case {
    std::string_view name;
    // Builds the selection under the folder given; nothing where the platform cannot.
    std::function<std::optional<Packing>(const fs::path&)> setup;
};

// Two files of one folder that unpack to one file on Windows: whichever the listing gives
// first keeps its name, the other gets its numbered name.
std::function<std::optional<Packing>(const fs::path&)> windows_twins(std::string a, std::string a_numbered,
                                                                     std::string b, std::string b_numbered)
{
    return [=](const fs::path& r) -> std::optional<Packing> {
        fs::create_directories(r / "folder");
        test_support::put_as_written(utf8(r / "folder", a), "first");
        test_support::put_as_written(utf8(r / "folder", b), "second");
        if (entries_in(r / "folder") != 2)
            return std::nullopt; // the folder itself takes them for one name
        const std::string f = "folder/";
        return Packing{{r / "folder"}, {{f + a, f + b_numbered}, {f + b, f + a_numbered}}, {"first", "second"}};
    };
}

const Case cases[] = {
    {"a selected link to a folder is left out",
     [](const fs::path& r) -> std::optional<Packing> {
         put(r / "note.bin", "0123456789");
         put(r / "far/big/a.bin", std::string(3000, 'a'));
         put(r / "far/big/b.bin", std::string(2000, 'b'));
         put(r / "far/big/sub/c.bin", "c");
         if (!test_support::try_symlink(r / "far/big", r / "linked", true))
             return std::nullopt;
         return Packing{{r / "note.bin", r / "linked"}, {{"note.bin"}}, {"0123456789"}};
     }},
    {"a selected link to a file is left out",
     [](const fs::path& r) -> std::optional<Packing> {
         put(r / "note.bin", "0123456789");
         put(r / "far/big.bin", std::string(5000, 'x'));
         if (!test_support::try_symlink(r / "far/big.bin", r / "big_link.bin", false))
             return std::nullopt;
         return Packing{{r / "note.bin", r / "big_link.bin"}, {{"note.bin"}}, {"0123456789"}};
     }},
    {"selected ignored names are left out",
     [](const fs::path& r) -> std::optional<Packing> {
         put(r / "note.bin", "0123456789");
         put(r / "._big.bin", std::string(5000, 'x'));
         put(r / "Thumbs.db", "thumbs");
         put(r / "__MACOSX/inner.txt", "inner");
         return Packing{{r / "note.bin", r / "._big.bin", r / "Thumbs.db", r / "__MACOSX"}, {{"note.bin"}}, {"0123456789"}};
     }},
    {"NFC and NFD twins in one folder",
     [](const fs::path& r) -> std::optional<Packing> {
         put(utf8(r / "folder", str(cafe_nfc, ".txt")), "composed");
         put(utf8(r / "folder", str(cafe_nfd, ".txt")), "decomposed");
         if (entries_in(r / "folder") != 2)
             return std::nullopt;
         return Packing{{r / "folder"},
                        {{str("folder/", str(cafe_nfc, ".txt")), str("folder/", str(cafe_nfc, " (2).txt"))}},
                        {"composed", "decomposed"}};
     }},
    {"a twin's number skips a name the folder holds",
     [](const fs::path& r) -> std::optional<Packing> {
         put(utf8(r / "folder", str(cafe_nfc, ".txt")), "composed");
         put(utf8(r / "folder", str(cafe_nfd, ".txt")), "decomposed");
         put(utf8(r / "folder", str(cafe_nfc, " (2).txt")), "second");
         if (entries_in(r / "folder") != 3)
             return std::nullopt;
         return Packing{{r / "folder"},
                        {{str("folder/", str(cafe_nfc, ".txt")), str("folder/", str(cafe_nfc, " (2).txt")),
                          str("folder/", str(cafe_nfc, " (3).txt"))}},
                        {"composed", "decomposed", "second"},
                        {{str("folder/", str(cafe_nfc, " (2).txt")), "second"}}};
     }},
    {"twins that differ in letter case",
     [](const fs::path& r) -> std::optional<Packing> {
         put(r / "folder/Readme.txt", "mixed");
         put(r / "folder/README.txt", "upper");
         put(r / "folder/.Env", "dot mixed");
         put(r / "folder/.env", "dot lower");
         if (entries_in(r / "folder") != 4)
             return std::nullopt; // a folder that ignores letter case holds one of each
         return Packing{{r / "folder"},
                        {{"folder/Readme.txt", "folder/README (2).txt", "folder/.Env", "folder/.env (2)"},
                         {"folder/README.txt", "folder/Readme (2).txt", "folder/.Env", "folder/.env (2)"},
                         {"folder/Readme.txt", "folder/README (2).txt", "folder/.env", "folder/.Env (2)"},
                         {"folder/README.txt", "folder/Readme (2).txt", "folder/.env", "folder/.Env (2)"}},
                        {"mixed", "upper", "dot mixed", "dot lower"}};
     }},
    {"final and medial sigma in one folder",
     windows_twins("\xCF\x82.txt", "\xCF\x82 (2).txt", "\xCF\x83.txt", "\xCF\x83 (2).txt")},
    {"micro sign and mu in one folder",
     windows_twins("\xC2\xB5.txt", "\xC2\xB5 (2).txt", "\xCE\xBC.txt", "\xCE\xBC (2).txt")},
    {"long s and s in one folder", windows_twins("\xC5\xBF.txt", "\xC5\xBF (2).txt", "s.txt", "s (2).txt")},
    {"a trailing dot in one folder", windows_twins("a.txt", "a (2).txt", "a.txt.", "a (2).txt.")},
    {"a trailing blank in one folder", windows_twins("b.txt", "b (2).txt", "b.txt ", "b (2).txt ")},
    {"selected files that Windows unpacks to one name",
     [](const fs::path& r) -> std::optional<Packing> {
         struct Twin {
             std::string_view first, second, second_numbered;
         };
         // The number goes before the trailing dots and blanks that Windows drops.
         const Twin twins[] = {
             {"\xCF\x82.txt", "\xCF\x83.txt", "\xCF\x83 (2).txt"}, // final and medial sigma
             {"\xC2\xB5.txt", "\xCE\xBC.txt", "\xCE\xBC (2).txt"}, // micro sign and mu
             {"\xC5\xBF.txt", "s.txt", "s (2).txt"},                // long s
             {"a.txt", "a.txt.", "a (2).txt."},
             {"b.txt", "b.txt ", "b (2).txt "},
             {"c.txt", "C.TXT. .", "C (2).TXT. ."},
         };
         fs::create_directories(r / "d1");
         fs::create_directories(r / "d2");
         Packing p;
         std::vector<std::string> names;
         for (const Twin& t : twins) {
             const std::string first(t.first), second(t.second);
             test_support::put_as_written(utf8(r / "d1", first), "1 " + first);
             test_support::put_as_written(utf8(r / "d2", second), "2 " + second);
             p.select.push_back(utf8(r / "d1", first));
             p.select.push_back(utf8(r / "d2", second));
             p.contents.push_back("1 " + first);
             p.contents.push_back("2 " + second);
             names.push_back(first);
             names.emplace_back(t.second_numbered);
             p.pinned[first] = "1 " + first;
             p.pinned[std::string(t.second_numbered)] = "2 " + second;
         }
         p.names = {names};
         return p;
     }},
    {"a numbered twin skips a name that Windows takes for it",
     [](const fs::path& r) -> std::optional<Packing> {
         test_support::put_as_written(r / "a.txt", "plain");
         fs::create_directories(r / "d");
         test_support::put_as_written(r / "d" / "a.txt.", "dot");
         test_support::put_as_written(r / "a (2).TXT ", "numbered");
         return Packing{{r / "a.txt", r / "d" / "a.txt.", r / "a (2).TXT "},
                        {{"a.txt", "a (3).txt.", "a (2).TXT "}},
                        {"plain", "dot", "numbered"},
                        {{"a (3).txt.", "dot"}, {"a (2).TXT ", "numbered"}}};
     }},
    {"folders that Windows unpacks to one name",
     [](const fs::path& r) -> std::optional<Packing> {
         fs::create_directories(r / "d1");
         fs::create_directories(r / "d2");
         if (!test_support::make_dir_as_written(r / "d1" / "Photos.") ||
             !test_support::make_dir_as_written(r / "d2" / "photos"))
             return std::nullopt;
         test_support::put_as_written(r / "d1" / "Photos." / "x.txt", "in the dotted");
         test_support::put_as_written(r / "d2" / "photos" / "y.txt", "in the plain");
         return Packing{{r / "d1" / "Photos.", r / "d2" / "photos"},
                        {{"Photos./x.txt", "photos (2)/y.txt"}},
                        {"in the dotted", "in the plain"},
                        {{"photos (2)/y.txt", "in the plain"}}};
     }},
    {"NFC and NFD twins of folders",
     [](const fs::path& r) -> std::optional<Packing> {
         put(utf8(r / "top", cafe_nfc) / "a.txt", "in composed");
         put(utf8(r / "top", cafe_nfd) / "b.txt", "in decomposed");
         if (entries_in(r / "top") != 2)
             return std::nullopt;
         const std::string one = str("top/", cafe_nfc), two = str("top/", str(cafe_nfc, " (2)"));
         return Packing{{r / "top"},
                        {{one + "/a.txt", two + "/b.txt"}, {two + "/a.txt", one + "/b.txt"}},
                        {"in composed", "in decomposed"}};
     }},
    {"selected files of one name",
     [](const fs::path& r) -> std::optional<Packing> {
         put(r / "d1/same.txt", "one");
         put(r / "d2/same.txt", "two");
         put(r / "d3/same (2).txt", "three");
         return Packing{{r / "d1/same.txt", r / "d2/same.txt", r / "d3/same (2).txt"},
                        {{"same.txt", "same (3).txt", "same (2).txt"}},
                        {"one", "two", "three"},
                        {{"same.txt", "one"}, {"same (3).txt", "two"}, {"same (2).txt", "three"}}};
     }},
    {"a selected folder and a selected file of one name",
     [](const fs::path& r) -> std::optional<Packing> {
         put(r / "d1/Docs/a.txt", "in the folder");
         put(r / "d2/docs", "a file");
         return Packing{{r / "d1/Docs", r / "d2/docs"},
                        {{"Docs/a.txt", "docs (2)"}},
                        {"in the folder", "a file"},
                        {{"docs (2)", "a file"}}};
     }},
    {"the same path twice",
     [](const fs::path& r) -> std::optional<Packing> {
         put(r / "x.txt", "twice");
         put(r / "y.bin", "once");
         return Packing{{r / "x.txt", r / "y.bin", r / "x.txt"},
                        {{"x.txt", "y.bin", "x (2).txt"}},
                        {"twice", "once", "twice"}};
     }},
    {"items neither file nor folder are left out",
     [](const fs::path& r) -> std::optional<Packing> {
         put(r / "Docs/a.txt", "alpha");
         put(r / "b.txt", "bravo");
         if (!test_support::try_fifo(r / "top.fifo") || !test_support::try_fifo(r / "Docs/inner.fifo"))
             return std::nullopt;
         return Packing{{r / "top.fifo", r / "Docs", r / "b.txt"}, {{"Docs/a.txt", "b.txt"}}, {"alpha", "bravo"}};
     }},
};

TEST_F(ArchiveSummary, ArchiveHoldsWhatTheSummaryCounts)
{
    for_each_case(cases, [&](const Case&, const Packing& packing) {
        const config::TargetSummary summary = config::analyze_selection(packing.select);
        EXPECT_EQ(summary.kind, config::TargetKind::AutoZip);

        std::atomic<std::uint64_t> done{0};
        const auto archive = zipper::build_archive(packing.select, done);
        ASSERT_TRUE(archive) << archive.error();
        const auto report = zip_test::archive_report(*archive, 1 << 20);
        fs::remove(*archive);
        ASSERT_TRUE(report);

        std::uint64_t declared = 0, read = 0;
        std::vector<std::string> names, contents;
        std::map<std::string, std::string> by_name;
        for (const auto& e : (*report)["entries"]) {
            declared += e["file_size"].get<std::uint64_t>();
            read += e["read_length"].get<std::uint64_t>();
            names.push_back(e["name"].get<std::string>());
            contents.push_back(from_hex(e["data_hex"].get<std::string>()));
            by_name[names.back()] = contents.back();
        }
        EXPECT_EQ(names.size(), summary.file_count);
        EXPECT_EQ(declared, summary.raw_bytes);
        EXPECT_EQ(read, summary.raw_bytes);
        EXPECT_EQ(done.load(), summary.raw_bytes);

        std::sort(names.begin(), names.end());
        bool names_match = false;
        for (auto want : packing.names) {
            std::sort(want.begin(), want.end());
            names_match = names_match || want == names;
        }
        EXPECT_TRUE(names_match) << (*report)["entries"].dump();

        auto want_contents = packing.contents;
        std::sort(want_contents.begin(), want_contents.end());
        std::sort(contents.begin(), contents.end());
        EXPECT_EQ(contents, want_contents);
        for (const auto& [name, content] : packing.pinned)
            EXPECT_EQ(by_name[name], content) << name;
    });
}

// A folder whose listing fails for some of its entries: the walk of the archive skips as
// many unreadable entries in a row as the scan, and gives up where the scan gives up.
TEST_F(ArchiveSummary, UnreadableEntriesCountedAsTheyArePacked)
{
    const fs::path dir = m_scratch / "listed";
    put(dir / "a.txt", "abc");
    put(dir / "b.txt", "de");
    const fs::path a = dir / "a.txt", b = dir / "b.txt";
    constexpr int limit = config::MAX_CONSECUTIVE_ENTRY_ERRORS;
    struct Row {
        std::string_view name;
        int errors;
        std::vector<fs::path> paths;
        int tail;
        int gap;
        std::vector<std::string> names;
    };
    const Row rows[] = {
        {"unreadable entries skipped", 3, {a, b}, 2, 0, {"p/a.txt", "p/b.txt"}},
        {"one short of the limit in a row, the next entry is read", limit - 1, {a}, 0, 0, {"p/a.txt"}},
        {"at the limit in a row the listing counts as finished", limit, {a}, 0, 0, {}},
        {"one past the limit in a row", limit + 1, {a}, 0, 0, {}},
        {"a readable entry starts the count again", 0, {a, b}, 0, limit - 1, {"p/a.txt", "p/b.txt"}},
        {"a listing that fails for ever still ends", 0, {a}, -1, 0, {"p/a.txt"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        int calls = 0;
        const config::ListDirFn lister = test_support::fake_lister([&] {
            return std::make_unique<test_support::FakeListing>(row.errors, row.paths, row.tail, calls, row.gap);
        });
        std::uint64_t raw = 0, files = 0;
        ASSERT_TRUE(config::scan_folder_with(dir, raw, files, lister));
        EXPECT_LT(calls, 1000);

        calls = 0;
        const fs::path out_path = m_scratch / "out.zip";
        {
            auto out = zip_test::open_limited(out_path, zipper::MAX_ZIP_BYTES);
            zipper::ZipWriter writer(out);
            std::atomic<std::uint64_t> done{0};
            ASSERT_TRUE(zipper::add_dir_to_zip_with(writer, dir, "p", zipper::archive_entry_options, done, lister));
            ASSERT_TRUE(writer.finish());
            EXPECT_LT(calls, 1000);
            EXPECT_EQ(done.load(), raw);
            out.close();
        }
        const auto report = zip_test::archive_report(out_path);
        ASSERT_TRUE(report);
        std::vector<std::string> names;
        for (const auto& e : (*report)["entries"])
            names.push_back(e["name"].get<std::string>());
        EXPECT_EQ(names, row.names);
        EXPECT_EQ(names.size(), files);
    }
}

} // namespace
