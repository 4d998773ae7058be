#include "config/selection.h"

#include "config/scan_rules.h"
#include "platform/unicode.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace config {

// Readable failures: every field on its own.
void PrintTo(const TargetSummary& s, std::ostream* os)
{
    *os << "{kind " << target_kind_text(s.kind) << ", display '" << s.display_name << "', upload '"
        << s.upload_filename << "', code '" << s.suggested_code << "', items " << s.item_count << ", files "
        << s.file_count << ", raw " << s.raw_bytes << ", limit " << s.limit_bytes << "/" << s.limit_mb
        << ", zip " << s.needs_zip << ", 3day " << s.force_3day_expiry << ", valid " << s.valid << ", error '"
        << s.error_message.value_or("<none>") << "', paths " << s.paths.size() << "}";
}

} // namespace config

namespace {

namespace fs = std::filesystem;
using config::TargetKind;
using config::TargetSummary;
using test_support::put_file;

constexpr std::uint64_t mib = 1'048'576;
const std::string empty_file_message = "빈 파일(0바이트)은 공유할 수 없습니다.";
const std::string nothing_message = "선택한 폴더 내에 공유 가능한 파일이 없습니다.";
const std::string zero_bytes_message = "선택한 항목의 크기가 0바이트입니다.";
const std::string size_message =
    "폴더·묶음 원본 용량이 너무 큽니다 (압축 후 최대 500MB까지만 공유 가능 / 동영상은 개별 파일 우클릭 시 1GB 지원).";

void sized_file(const fs::path& p, std::uintmax_t size)
{
    put_file(p, "");
    fs::resize_file(p, size);
}

// The summary a case expects, written out field by field.
struct Want {
    TargetKind kind;
    std::string display, upload, code;
    std::uint64_t items, files, raw;
    bool media_limit = false;
    bool force_3day = false;
    bool valid = false;
    std::optional<std::string> error = std::nullopt;
};

TargetSummary summary(const Want& w, std::vector<std::string> paths)
{
    TargetSummary s;
    s.kind = w.kind;
    s.display_name = w.display;
    s.upload_filename = w.upload;
    s.suggested_code = w.code;
    s.item_count = w.items;
    s.file_count = w.files;
    s.raw_bytes = w.raw;
    s.limit_bytes = w.media_limit ? config::MEDIA_LIMIT_BYTES : config::DOCUMENT_LIMIT_BYTES;
    s.limit_mb = w.media_limit ? 1024 : 500;
    s.needs_zip = w.kind == TargetKind::AutoZip;
    s.force_3day_expiry = w.force_3day;
    s.valid = w.valid;
    s.error_message = w.error;
    s.paths = std::move(paths);
    return s;
}

class Selection : public ::testing::Test {
public:
    test_support::ScratchDir dir;
    fs::path at(std::string_view utf8) const { return dir / platform::path_from_utf8(utf8); }
};

TEST_F(Selection, SummaryOfEachKindOfSelection)
{
    using D = TargetKind;
    struct Case {
        std::string_view name;
        std::function<void(const Selection&)> build;
        std::vector<std::string> select; // below the scratch folder
        Want want;
        std::vector<std::string> kept = {}; // selected paths that exist; `select` when empty
    };
    const std::string nul(1, '\0');
    const auto file = [](std::string name, std::uintmax_t size) {
        return [=](const Selection& t) { sized_file(t.at(name), size); };
    };
    const Case cases[] = {
        {"nothing exists", [](const Selection&) {}, {"missing", "gone.pdf"},
         {D::Empty, "선택된 파일 또는 폴더 없음", "", "", 0, 0, 0}, {"-"}},
        {"empty file with an unknown extension", file("notes.xyz", 0), {"notes.xyz"},
         {D::DirectDocument, "notes.xyz", "notes.xyz", "notes", 1, 1, 0, false, false, false, empty_file_message}},
        {"empty media file", file("a.mp4", 0), {"a.mp4"},
         {D::DirectDocument, "a.mp4", "a.mp4", "a", 1, 1, 0, false, false, false, empty_file_message}},
        {"media over 500 MiB, upper-case extension", file("Clip.MP4", 629'145'600), {"Clip.MP4"},
         {D::DirectMedia, "Clip.MP4", "Clip.MP4", "Clip", 1, 1, 629'145'600, true, true, true}},
        {"media of exactly 500 MiB", file("a.mkv", 524'288'000), {"a.mkv"},
         {D::DirectMedia, "a.mkv", "a.mkv", "a", 1, 1, 524'288'000, true, false, true}},
        {"media one byte over 500 MiB", file("a.opus", 524'288'001), {"a.opus"},
         {D::DirectMedia, "a.opus", "a.opus", "a", 1, 1, 524'288'001, true, true, true}},
        {"media of exactly 1 GiB", file("a.mov", 1'073'741'824), {"a.mov"},
         {D::DirectMedia, "a.mov", "a.mov", "a", 1, 1, 1'073'741'824, true, true, true}},
        {"media one byte over 1 GiB", file("a.webm", 1'073'741'825), {"a.webm"},
         {D::DirectMedia, "a.webm", "a.webm", "a", 1, 1, 1'073'741'825, true, false, false,
          "동영상·오디오 파일 크기(1024.0MB)가 최대 허용 한도(1GB / 1024MB)를 초과했습니다."}},
        {"media rounds to one decimal", file("a.wav", 1536 * mib + 52'429), {"a.wav"},
         {D::DirectMedia, "a.wav", "a.wav", "a", 1, 1, 1536 * mib + 52'429, true, false, false,
          "동영상·오디오 파일 크기(1536.1MB)가 최대 허용 한도(1GB / 1024MB)를 초과했습니다."}},
        {"a tie rounds to even", file("t.avi", 1'073'741'824 + 262'144), {"t.avi"},
         {D::DirectMedia, "t.avi", "t.avi", "t", 1, 1, 1'073'741'824 + 262'144, true, false, false,
          "동영상·오디오 파일 크기(1024.2MB)가 최대 허용 한도(1GB / 1024MB)를 초과했습니다."}},
        {"wma audio goes out as media", file("song.wma", 1000), {"song.wma"},
         {D::DirectMedia, "song.wma", "song.wma", "song", 1, 1, 1000, true, false, true}},
        {"document of exactly 500 MiB", file("Report.PDF", 524'288'000), {"Report.PDF"},
         {D::DirectDocument, "Report.PDF", "Report.PDF", "Report", 1, 1, 524'288'000, false, false, true}},
        {"document one byte over 500 MiB", file("b.hwpx", 524'288'001), {"b.hwpx"},
         {D::DirectDocument, "b.hwpx", "b.hwpx", "b", 1, 1, 524'288'001, false, false, false,
          "문서·압축 파일 크기(500.0MB)가 최대 허용 한도(500MB)를 초과했습니다."}},
        {"dot-underscore document is sent as it is", file("._x.pdf", 5), {"._x.pdf"},
         {D::DirectDocument, "._x.pdf", "._x.pdf", "x", 1, 1, 5, false, false, true}},
        {"file of another extension is packed", file("data.bin", 10), {"data.bin"},
         {D::AutoZip, "data.bin", "data.zip", "data", 1, 1, 10, false, false, true}},
        {"only the last dot splits", file("backup.tar.gz", 3), {"backup.tar.gz"},
         {D::AutoZip, "backup.tar.gz", "backup.tar.zip", "backup_tar", 1, 1, 3, false, false, true}},
        {"a leading dot is no extension", file(".profile", 4), {".profile"},
         {D::AutoZip, ".profile", ".profile.zip", "profile", 1, 1, 4, false, false, true}},
        {"Thumbs.db alone is packed and skipped", file("Thumbs.db", 9), {"Thumbs.db"},
         {D::AutoZip, "Thumbs.db", "Thumbs.zip", "Thumbs", 1, 0, 0, false, false, false, nothing_message}},
        {"folder with a dot",
         [](const Selection& t) {
             fs::create_directory(t.at("My.Project"));
             sized_file(t.at("My.Project/a.txt"), 7);
         },
         {"My.Project"},
         {D::AutoZip, "📁 My.Project (폴더 전체)", "My.Project.zip", "My_Project", 1, 1, 7, false, false, true}},
        {"three items, the first a file",
         [](const Selection& t) {
             sized_file(t.at("사진.jpg"), 1);
             sized_file(t.at("b.txt"), 2);
             fs::create_directory(t.at("c"));
             sized_file(t.at("c/d.txt"), 3);
         },
         {"사진.jpg", "b.txt", "c"},
         {D::AutoZip, "사진 외 2개 항목", "사진_외_2건.zip", "사진_외_2건", 3, 3, 6, false, false, true}},
        {"two items, the first a folder with a dot",
         [](const Selection& t) {
             fs::create_directory(t.at("My.Folder"));
             sized_file(t.at("My.Folder/x"), 1);
             sized_file(t.at("y.pdf"), 1);
         },
         {"My.Folder", "y.pdf"},
         {D::AutoZip, "My 외 1개 항목", "My_외_1건.zip", "My_외_1건", 2, 2, 2, false, false, true}},
        {"missing paths dropped before counting",
         [](const Selection& t) { sized_file(t.at("a.pdf"), 1); sized_file(t.at("b.pdf"), 1); },
         {"gone", "a.pdf", "gone2", "b.pdf"},
         {D::AutoZip, "a 외 1개 항목", "a_외_1건.zip", "a_외_1건", 2, 2, 2, false, false, true}, {"a.pdf", "b.pdf"}},
        {"a path holding NUL names no file", file("real.pdf", 5), {"real.pdf" + nul + "/../clip.mp4"},
         {D::Empty, "선택된 파일 또는 폴더 없음", "", "", 0, 0, 0}, {"-"}},
        {"a path holding NUL beside a real one", file("real.pdf", 5), {"real.pdf" + nul + "/../clip.mp4", "real.pdf"},
         {D::DirectDocument, "real.pdf", "real.pdf", "real", 1, 1, 5, false, false, true}, {"real.pdf"}},
        {"same path twice counts twice",
         [](const Selection& t) { fs::create_directory(t.at("f")); sized_file(t.at("f/x"), 4); },
         {"f", "f"},
         {D::AutoZip, "f 외 1개 항목", "f_외_1건.zip", "f_외_1건", 2, 2, 8, false, false, true}},
        {"empty folder",
         [](const Selection& t) { fs::create_directory(t.at("e")); }, {"e"},
         {D::AutoZip, "📁 e (폴더 전체)", "e.zip", "e", 1, 0, 0, false, false, false, nothing_message}},
        {"folder of empty files",
         [](const Selection& t) {
             fs::create_directory(t.at("z"));
             for (const char* n : {"z/1", "z/2", "z/3"})
                 sized_file(t.at(n), 0);
         },
         {"z"},
         {D::AutoZip, "📁 z (폴더 전체)", "z.zip", "z", 1, 3, 0, false, false, false, zero_bytes_message}},
        {"scan message with the totals reached",
         [](const Selection& t) {
             fs::create_directory(t.at("big"));
             sized_file(t.at("big/huge.bin"), config::MAX_SCAN_RAW_BYTES + 1);
         },
         {"big"},
         {D::AutoZip, "📁 big (폴더 전체)", "big.zip", "big", 1, 1, config::MAX_SCAN_RAW_BYTES + 1, false, false, false,
          size_message}},
        {"names in NFC, paths as given", file("e\xCC\x81.pdf", 2), {"e\xCC\x81.pdf"},
         {D::DirectDocument, "\xC3\xA9.pdf", "\xC3\xA9.pdf", "", 1, 1, 2, false, false, true}},
        // Of several items, what the archive leaves out is neither counted nor named.
        {"an ignored name beside a document leaves the document",
         [](const Selection& t) { sized_file(t.at("Thumbs.db"), 9); sized_file(t.at("a.pdf"), 5); },
         {"Thumbs.db", "a.pdf"},
         {D::DirectDocument, "a.pdf", "a.pdf", "a", 1, 1, 5, false, false, true}},
        {"an ignored name beside a file of another extension",
         [](const Selection& t) { sized_file(t.at("data.bin"), 10); sized_file(t.at("._data.bin"), 1); },
         {"data.bin", "._data.bin"},
         {D::AutoZip, "data.bin", "data.zip", "data", 1, 1, 10, false, false, true}},
        {"an ignored name first of three",
         [](const Selection& t) {
             sized_file(t.at("desktop.ini"), 1);
             sized_file(t.at("b.txt"), 2);
             sized_file(t.at("c.bin"), 3);
         },
         {"desktop.ini", "b.txt", "c.bin"},
         {D::AutoZip, "b 외 1개 항목", "b_외_1건.zip", "b_외_1건", 2, 2, 5, false, false, true}},
        {"nothing packed of several is named as selected",
         [](const Selection& t) { sized_file(t.at("Thumbs.db"), 1); sized_file(t.at("desktop.ini"), 1); },
         {"Thumbs.db", "desktop.ini"},
         {D::AutoZip, "Thumbs 외 1개 항목", "Thumbs_외_1건.zip", "Thumbs_외_1건", 2, 0, 0, false, false, false,
          nothing_message}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& e : fs::directory_iterator(dir.path()))
            fs::remove_all(e.path());
        c.build(*this);
        std::vector<fs::path> selection;
        for (const auto& s : c.select)
            selection.push_back(at(s));
        std::vector<std::string> kept;
        const auto& names = c.kept.empty() ? c.select : c.kept;
        for (const auto& s : names)
            if (s != "-")
                kept.push_back(platform::path_to_utf8(at(s)));
        EXPECT_EQ(config::analyze_selection(selection), summary(c.want, kept));
    }
}

TEST_F(Selection, LinksAreFollowedForTheKindButNotByTheScan)
{
    sized_file(at("target.pdf"), 11);
    sized_file(at("target.bin"), 12);
    fs::create_directory(at("folder"));
    sized_file(at("folder/inner.txt"), 13);
    if (!test_support::try_symlink(at("target.pdf"), at("doc_link.pdf"), false) ||
        !test_support::try_symlink(at("target.bin"), at("bin_link"), false) ||
        !test_support::try_symlink(at("folder"), at("folder_link"), true) ||
        !test_support::try_symlink(at("gone"), at("dangling.pdf"), false))
        GTEST_SKIP() << "symbolic links cannot be created here (Windows without the privilege, or wine)";
    using D = TargetKind;
    struct Case {
        std::string_view name;
        std::vector<std::string> select;
        Want want;
    };
    const Case cases[] = {
        {"link to a document", {"doc_link.pdf"},
         {D::DirectDocument, "doc_link.pdf", "doc_link.pdf", "doc_link", 1, 1, 11, false, false, true}},
        {"link to another file", {"bin_link"},
         {D::AutoZip, "bin_link", "bin_link.zip", "bin_link", 1, 0, 0, false, false, false, nothing_message}},
        {"link to a folder", {"folder_link"},
         {D::AutoZip, "📁 folder_link (폴더 전체)", "folder_link.zip", "folder_link", 1, 0, 0, false, false, false,
          nothing_message}},
        // Beside other items a link is left out: the rest is named and counted.
        {"a file beside a link to a folder", {"target.bin", "folder_link"},
         {D::AutoZip, "target.bin", "target.zip", "target", 1, 1, 12, false, false, true}},
        {"a link to a document first, then a document", {"doc_link.pdf", "target.pdf"},
         {D::DirectDocument, "target.pdf", "target.pdf", "target", 1, 1, 11, false, false, true}},
        {"a folder beside links", {"bin_link", "folder", "doc_link.pdf"},
         {D::AutoZip, "📁 folder (폴더 전체)", "folder.zip", "folder", 1, 1, 13, false, false, true}},
        {"only links", {"bin_link", "folder_link"},
         {D::AutoZip, "bin_link 외 1개 항목", "bin_link_외_1건.zip", "bin_link_외_1건", 2, 0, 0, false, false, false,
          nothing_message}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<fs::path> selection;
        std::vector<std::string> texts;
        for (const auto& s : c.select) {
            selection.push_back(at(s));
            texts.push_back(platform::path_to_utf8(at(s)));
        }
        EXPECT_EQ(config::analyze_selection(selection), summary(c.want, texts));
    }
    EXPECT_EQ(config::analyze_selection({at("dangling.pdf")}).kind, TargetKind::Empty);
}

// Each item's own scan, added up, gives what one scan over the whole list gives: also
// when the sum passes a limit inside a later item, where the whole scan stops part way.
// Every prefix of each list is analysed in turn with the scans kept from the shorter
// ones, as the selection grows by hand-offs.
TEST_F(Selection, ItemScansAddUpToTheWholeScan)
{
    constexpr std::uint64_t half_gib = 512 * mib;
    const auto files_in = [&](std::string folder, int count) {
        fs::create_directories(at(folder));
        for (int i = 0; i < count; ++i)
            sized_file(at(folder + "/f" + std::to_string(i)), 1);
    };
    sized_file(at("x.txt"), 3);
    sized_file(at("y.bin"), 4);
    sized_file(at("Thumbs.db"), 5);
    sized_file(at("empty.bin"), 0);
    files_in("three", 3);
    fs::create_directories(at("nested/__MACOSX"));
    fs::create_directories(at("nested/deeper"));
    sized_file(at("nested/__MACOSX/skipped"), 6);
    sized_file(at("nested/._skipped"), 7);
    sized_file(at("nested/deeper/kept"), 8);
    files_in("n3000", 3000);
    files_in("n2100", 2100);
    fs::create_directories(at("gib"));
    sized_file(at("gib/a"), 2 * half_gib);
    fs::create_directories(at("parts"));
    for (const char* n : {"parts/1", "parts/2", "parts/3"})
        sized_file(at(n), 300 * mib);
    fs::create_directories(at("half"));
    sized_file(at("half/h"), half_gib);
    sized_file(at("over.bin"), config::MAX_SCAN_RAW_BYTES + 1);
    const bool links = test_support::try_symlink(at("three"), at("three_link"), true);

    struct Case {
        std::string_view name;
        std::vector<std::string> select;
    };
    std::vector<Case> cases = {
        {"files and folders", {"x.txt", "three", "nested", "y.bin"}},
        {"repeats", {"three", "x.txt", "three", "x.txt"}},
        {"ignored names and empty files", {"Thumbs.db", "nested", "empty.bin", "y.bin"}},
        {"the count passes its limit in the second folder", {"n3000", "n2100", "x.txt"}},
        {"the size passes its limit inside the second folder", {"gib", "parts", "x.txt"}},
        {"the size reaches its limit exactly", {"gib", "half", "x.txt"}},
        {"the size is passed by the first item", {"over.bin", "three"}},
        {"the size is passed by a later single file", {"x.txt", "gib", "over.bin", "y.bin"}},
        {"missing paths", {"gone", "three", "gone", "x.txt"}},
    };
    if (links)
        cases.push_back({"a link among folders", {"three_link", "three", "nested"}});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::map<fs::path, config::ItemScan> kept;
        const config::ItemScans scans = [&](const fs::path& p) {
            auto it = kept.find(p);
            if (it == kept.end())
                it = kept.emplace(p, config::scan_item(p)).first;
            return it->second;
        };
        std::vector<fs::path> selection;
        for (const auto& s : c.select) {
            selection.push_back(at(s));
            SCOPED_TRACE(selection.size());
            EXPECT_EQ(config::analyze_selection_items(selection, scans).target, config::analyze_selection(selection));
        }
    }
    if (!links)
        GTEST_SKIP() << "symbolic links cannot be created here; the other cases ran";
}

TEST_F(Selection, RootAloneIsTheSharedFolder)
{
    // A drive root has no last component, nor has a folder named through "..": both are
    // the shared folder. Only the names are checked; the scan stops at its limits.
    const auto expect_shared_folder = [](const config::TargetSummary& s) {
        EXPECT_EQ(s.kind, TargetKind::AutoZip);
        EXPECT_EQ(s.display_name, "📁 공유폴더 (폴더 전체)");
        EXPECT_EQ(s.upload_filename, "공유폴더.zip");
        EXPECT_EQ(s.suggested_code, "공유폴더");
    };
    EXPECT_EQ(config::last_component_text(dir.path().root_path()), std::nullopt);
    fs::create_directories(at("folder/sub"));
    expect_shared_folder(config::analyze_selection({at("folder/sub/..")}));

    // The whole drive, where the system shows links as links: where none can be made it
    // may not (wine shows the Unix links under C:\users as folders, and they lead back
    // into the drive), and the scan would walk round them for many minutes.
    if (!test_support::try_symlink(at("folder"), at("folder_link"), true))
        GTEST_SKIP() << "symbolic links cannot be created here (Windows without the privilege, or wine)";
    expect_shared_folder(config::analyze_selection({dir.path().root_path()}));
}

TEST(SelectionKinds, KindTexts)
{
    EXPECT_EQ(config::target_kind_text(TargetKind::DirectMedia), "direct_media");
    EXPECT_EQ(config::target_kind_text(TargetKind::DirectDocument), "direct_document");
    EXPECT_EQ(config::target_kind_text(TargetKind::AutoZip), "auto_zip");
    EXPECT_EQ(config::target_kind_text(TargetKind::Empty), "empty");
}

} // namespace
