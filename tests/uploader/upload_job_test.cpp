// Whole uploads through the local API against the stand-in service: what the service
// received, what the state route shows, the clipboard, and the temporary archive.

#include "support/as_written.h"
#include "support/state_probe.h"
#include "support/upload_rig.h"

#include "config/selection.h"
#include "uploader/qr_svg.h"
#include "uploader/upload_job.h"
#include "support/json_field.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#ifndef _WIN32
#include "shell/stand_ins.h"
#include "support/special_files.h"
#endif

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test_support::done_text;
using test_support::ExpectedUpload;
using test_support::field;
using test_support::UploadRig;

// A stand-in PowerShell that keeps what the clipboard copy sends on its input. Under wine
// the real program's PowerShell is asked instead, and only the job's outcome is checked.
class ClipboardSpy {
public:
    ClipboardSpy()
    {
#ifndef _WIN32
        m_stand_ins.add("powershell", "cat > '" + m_stand_ins.file("clip").string() + "'");
#endif
    }
    void clear() const
    {
#ifndef _WIN32
        std::error_code ec;
        fs::remove(m_stand_ins.file("clip"), ec);
#endif
    }
    // What the copy sent, nothing when no copy ran; always nothing under wine.
    std::optional<std::string> sent() const
    {
#ifndef _WIN32
        if (fs::exists(m_stand_ins.file("clip")))
            return test_support::file_bytes(m_stand_ins.file("clip"));
#endif
        return std::nullopt;
    }
    static constexpr bool observable =
#ifndef _WIN32
        true;
#else
        false;
#endif

private:
#ifndef _WIN32
    test_support::StandIns m_stand_ins;
#endif
};

// Replaces "{base}" in every string of `v` by the service's base URL.
json with_base(json v, const std::string& base)
{
    if (v.is_string()) {
        std::string s = v;
        if (const auto at = s.find("{base}"); at != std::string::npos)
            s.replace(at, 6, base);
        return s;
    }
    if (v.is_object())
        for (auto& [k, item] : v.items())
            item = with_base(item, base);
    return v;
}

std::string pattern_bytes(std::size_t n, unsigned seed)
{
    std::string out(n, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : out) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

const std::string net_prefix = "업로드 중 네트워크 연결이 끊어졌습니다: ";
const std::string no_link = std::string(uploader::no_link_message);

TEST(UploadJob, SingleFileOutcomes)
{
    struct Case {
        std::string_view name;
        std::string file_name;   // as created on disk
        std::size_t size;
        json start_body;         // the page's start-upload body
        json reply;              // the service's scripted reply
        ExpectedUpload want;     // endpoint, fields, sent name and type
        json result;             // the job's result ({base} is the service), null for a failure
        std::string error;       // the failure message (a prefix when it ends in ": ")
        bool posix_only = false; // the name cannot exist on Windows
        bool dropped = false;    // the service hangs up after 100 bytes of the body
    };
    const json full = {{"short_code", "Qz9"}, {"short_url", "https://s.example/Qz9"}, {"original_name", "원본.pdf"},
                       {"file_size", 777},    {"expires_at", "2027-01-09T00:00:00Z"}, {"message", "업로드 완료"}};
    const auto defaults = [](std::string code, std::string name, std::size_t size, std::string url) {
        return json{{"short_code", code}, {"short_url", url}, {"original_name", name}, {"file_size", size},
                    {"expires_at", ""},   {"message", "공유 링크 생성 완료"}};
    };
    const std::vector<std::pair<std::string, std::string>> plain = {{"expiry_option", "30"}};
    const Case cases[] = {
        {"document with the full reply", "report.pdf", 1000, json::object(), {{"json", full}},
         {"/api/upload-document", plain, "report.pdf", "application/pdf"}, full, ""},
        {"media with code and details, status 201, minimal reply", "CLIP.MOV", 4096,
         {{"custom_code", "  my code "}, {"qr_details", "\t행사 안내 "}, {"expiry_option", " 7 "}},
         {{"status", 201}, {"json", {{"short_code", "abc12"}}}},
         {"/api/upload-video", {{"expiry_option", "7"}, {"custom_code", "my_code"}, {"qr_details", "행사 안내"}},
          "CLIP.MOV", "video/quicktime"},
         defaults("abc12", "CLIP.MOV", 4096, "{base}/abc12"), ""},
        {"a JSON array names no link", "notes.txt", 10, json::object(), {{"json", json::array({1, 2})}},
         {"/api/upload-document", plain, "notes.txt", "text/plain"}, nullptr, no_link},
        {"an object without code or link names no link", "a.pdf", 10, json::object(), {{"json", {{"ok", true}}}},
         {"/api/upload-document", plain, "a.pdf", "application/pdf"}, nullptr, no_link},
        {"a message alone names no link", "a.pdf", 10, json::object(), {{"json", {{"message", "received"}}}},
         {"/api/upload-document", plain, "a.pdf", "application/pdf"}, nullptr, no_link},
        {"an empty code and an empty link name no link", "a.pdf", 10, json::object(),
         {{"json", {{"short_code", ""}, {"short_url", ""}}}},
         {"/api/upload-document", plain, "a.pdf", "application/pdf"}, nullptr, no_link},
        {"a link of another scheme is no link", "a.pdf", 10, json::object(),
         {{"json", {{"short_url", "javascript:alert(1)"}}}},
         {"/api/upload-document", plain, "a.pdf", "application/pdf"}, nullptr, no_link},
        {"an empty link beside a code gives the code's link", "a.pdf", 10, json::object(),
         {{"json", {{"short_code", "k"}, {"short_url", ""}}}},
         {"/api/upload-document", plain, "a.pdf", "application/pdf"}, defaults("k", "a.pdf", 10, "{base}/k"), ""},
        {"a whole JSON reply cut short of its Content-Length", "a.pdf", 10, json::object(),
         {{"json", {{"short_code", "cut"}}}, {"headers", {{"Content-Length", "500"}}}},
         {"/api/upload-document", plain, "a.pdf", "application/pdf"}, nullptr, net_prefix},
        {"a negative size keeps the file's size; hwp goes out untyped", "a.hwp", 33, {{"expiry_option", ""}},
         {{"json", {{"short_code", "k"}, {"file_size", -1}}}}, {"/api/upload-document", {{"expiry_option", ""}}, "a.hwp",
          "application/octet-stream"}, defaults("k", "a.hwp", 33, "{base}/k"), ""},
        {"a fractional size too; the last extension counts", "movie.tar.mp4", 50, json::object(), {{"json", {{"short_code", "k"}, {"file_size", 1.5}}}},
         {"/api/upload-video", plain, "movie.tar.mp4", "video/mp4"}, defaults("k", "movie.tar.mp4", 50, "{base}/k"), ""},
        {"an empty short_url names no link", "a.csv", 20, json::object(), {{"json", {{"short_url", ""}}}},
         {"/api/upload-document", plain, "a.csv", "text/csv"}, nullptr, no_link},
        {"reply not JSON", "a.pdf", 10, json::object(), {{"text", "<html>ok</html>"}},
         {"/api/upload-document", plain, "a.pdf", "application/pdf"}, nullptr, "업로드 응답 파싱 실패: "},
        {"error with a detail text", "a.pdf", 10, json::object(), {{"status", 400}, {"json", {{"detail", "코드 중복"}}}},
         {"/api/upload-document", plain, "a.pdf", "application/pdf"}, nullptr, "코드 중복"},
        {"error with a detail object", "a.pdf", 10, json::object(),
         {{"status", 413}, {"json", {{"detail", {{"message", "용량 초과"}}}}}},
         {"/api/upload-document", plain, "a.pdf", "application/pdf"}, nullptr, "용량 초과"},
        {"error with a top-level message", "a.pdf", 10, json::object(),
         {{"status", 500}, {"json", {{"message", "내부 오류"}}}},
         {"/api/upload-document", plain, "a.pdf", "application/pdf"}, nullptr, "내부 오류"},
        {"error that is not JSON", "a.pdf", 10, json::object(), {{"status", 502}, {"text", "bad gateway"}},
         {"/api/upload-document", plain, "a.pdf", "application/pdf"}, nullptr, "서버 요청 실패 (HTTP 502): bad gateway"},
        {"connection closed after the body, no reply", "a.pdf", 10, json::object(), {{"drop", true}},
         {"/api/upload-document", plain, "a.pdf", "application/pdf"}, nullptr, net_prefix},
        // Far larger than what the client's and the service's socket buffers can take in
        // before the service's close arrives.
        {"connection dropped in the middle of the body", "big.pdf", 32 << 20, json::object(),
         {{"drop_after_body_bytes", 100}}, {"/api/upload-document", plain, "big.pdf", "application/pdf"}, nullptr,
         net_prefix, false, true},
        {"double quote in the name", "a\"b.pdf", 12, json::object(), {{"json", {{"short_code", "q"}}}},
         {"/api/upload-document", plain, "a_b.pdf", "application/pdf"}, defaults("q", "a_b.pdf", 12, "{base}/q"), "",
         true},
        {"CR and LF in the name cannot add header lines", "x\r\nX-Injected: 1\n.pdf", 12, json::object(),
         {{"json", {{"short_code", "q"}}}},
         {"/api/upload-document", plain, "x__X-Injected: 1_.pdf", "application/pdf"},
         defaults("q", "x__X-Injected: 1_.pdf", 12, "{base}/q"), "", true},
    };

    UploadRig rig;
    ClipboardSpy clipboard;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
#ifdef _WIN32
        if (c.posix_only)
            continue;
#endif
        const auto before = rig.uploads().size();
        const std::string bytes = pattern_bytes(c.size, static_cast<unsigned>(c.name.size()));
        const auto path = rig.put(c.file_name, bytes);
        rig.service.script({{"POST " + c.want.endpoint, c.reply}});
        clipboard.clear();
        auto& server = rig.start({path});

        const auto started = rig.start_upload(c.start_body);
        ASSERT_EQ(started.status, 200) << started.body.dump();
        const json job = rig.wait_for_end();

        const auto uploads = rig.uploads();
        ASSERT_EQ(uploads.size(), before + 1);
        if (c.dropped) {
            EXPECT_EQ(uploads.back().value("body_size", 0), 100);
            EXPECT_LT(server::ServerStateProbe::counters(*server.state).upload_sent_bytes->load(), server::ServerStateProbe::counters(*server.state).upload_total_bytes->load());
        } else {
            test_support::expect_upload_record(uploads.back(), c.want, &bytes);
            EXPECT_EQ(server::ServerStateProbe::counters(*server.state).upload_sent_bytes->load(), server::ServerStateProbe::counters(*server.state).upload_total_bytes->load());
            EXPECT_EQ(server::ServerStateProbe::counters(*server.state).upload_total_bytes->load(), uploads.back().value("body_size", 0u));
        }

        if (c.result.is_null()) {
            EXPECT_EQ(field(job, "phase"), "error");
            // A job that ended "done" has a null error: a failure of the row, not a crash.
            const std::string error = job.value("error", json()).is_string() ? job.value("error", "") : "";
            if (c.error.ends_with(": ")) {
                EXPECT_TRUE(error.starts_with(c.error) && error.size() > c.error.size()) << error;
            } else {
                EXPECT_EQ(error, c.error);
            }
            EXPECT_TRUE(field(job, "result").is_null());
            EXPECT_TRUE(field(job, "qr_svg").is_null());
            EXPECT_EQ(field(job, "percent"), 0.0);
            EXPECT_EQ(clipboard.sent(), std::nullopt);
        } else {
            const json want = with_base(c.result, rig.base());
            EXPECT_EQ(field(job, "phase"), "done") << job.dump();
            EXPECT_EQ(field(job, "result"), want);
            EXPECT_EQ(field(job, "percent"), 100.0);
            EXPECT_EQ(field(job, "detail_text"), done_text);
            EXPECT_TRUE(field(job, "error").is_null());
            const auto svg = uploader::render_qr_svg(field(want, "short_url").get<std::string>());
            EXPECT_EQ(field(job, "qr_svg"), svg ? json(*svg) : json(nullptr));
            if (svg) {
                EXPECT_NE(svg->find("<svg "), std::string::npos);
            }
            if (ClipboardSpy::observable) {
                EXPECT_EQ(clipboard.sent(), field(want, "short_url").get<std::string>());
            }
        }
        EXPECT_TRUE(rig.leftover_archives().empty());
    }
}

// Folders and multi-item selections go out as one archive; the service's zipfile reading
// of it must give back every source file under its entry name, and no archive remains.
TEST(UploadJob, ArchivesCarryTheSources)
{
    struct Case {
        std::string_view name;
        std::vector<std::string> selected;                        // top-level items, in order
        std::vector<std::pair<std::string, std::string>> entries; // entry name, source below the sources folder
        std::string file_name;
        json reply;
        bool success;
    };
    const std::vector<std::pair<std::string, std::string>> docs = {
        {"Docs/a.txt", "Docs/a.txt"}, {"Docs/sub/b.bin", "Docs/sub/b.bin"}, {"Docs/한글.txt", "Docs/한글.txt"}};
    auto multi = docs;
    multi.insert(multi.begin(), {"사진.jpg", "사진.jpg"});
    multi.push_back({"c.txt", "c.txt"});
    const Case cases[] = {
        {"one folder", {"Docs"}, docs, "Docs.zip", {{"json", {{"short_code", "z1"}}}}, true},
        {"a file, a folder and a file", {"사진.jpg", "Docs", "c.txt"}, multi, "사진_외_2건.zip",
         {{"json", {{"short_code", "z2"}}}}, true},
        {"the archive is removed after a failure too", {"Docs"}, docs, "Docs.zip",
         {{"status", 500}, {"json", {{"detail", "x"}}}}, false},
    };

    UploadRig rig;
    ClipboardSpy clipboard;
    rig.put("Docs/a.txt", "alpha");
    rig.put("Docs/sub/b.bin", pattern_bytes(300000, 7));
    rig.put("Docs/한글.txt", "가나다");
    rig.put("Docs/.DS_Store", "ignored");
    rig.put("Docs/Thumbs.db", "ignored");
    rig.put("사진.jpg", pattern_bytes(5000, 3));
    rig.put("c.txt", "");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<fs::path> paths;
        for (const auto& s : c.selected)
            paths.push_back(rig.source(s));
        rig.service.script({{"POST /api/upload-document", c.reply}});
        auto& server = rig.start(paths);
        ASSERT_EQ(rig.start_upload({{"expiry_option", "30"}}).status, 200);
        const json job = rig.wait_for_end();
        EXPECT_EQ(field(job, "phase"), c.success ? "done" : "error") << job.dump();
        EXPECT_EQ(server::ServerStateProbe::counters(*server.state).zip_done_bytes->load(), server::ServerStateProbe::counters(*server.state).zip_total_bytes->load());

        const auto rec = rig.uploads().back();
        test_support::expect_upload_record(rec, {"/api/upload-document", {{"expiry_option", "30"}}, c.file_name,
                                                 "application/zip"}, nullptr);
        const json listing = field(field(field(rec, "multipart"), "parts").back(), "zip");
        ASSERT_TRUE(listing.contains("entries")) << listing.dump();
        std::set<std::pair<std::string, std::string>> got, want;
        for (const auto& e : field(listing, "entries")) {
            got.emplace(field(e, "name").get<std::string>(), field(e, "sha256").get<std::string>());
            EXPECT_EQ(field(e, "method"), 8);
        }
        for (const auto& [entry, rel] : c.entries)
            want.insert({entry, test_support::sha256_hex(test_support::file_bytes(rig.source(rel)))});
        EXPECT_EQ(got, want);
        if (c.success) {
            EXPECT_EQ(field(field(job, "result"), "original_name"), c.file_name);
        }
        EXPECT_TRUE(rig.leftover_archives().empty());
    }
}

// Of several selected items, those the archive leaves out (ignored names, links) are
// neither counted nor named: the page's summary and the upload show the items sent, and
// a selection left with one file goes out as that file.
TEST(UploadJob, LeftOutItemsAreNeitherCountedNorSent)
{
    struct Case {
        std::string_view name;
        std::vector<std::string> selected;
        bool needs_links;
        std::string display_name;
        std::uint64_t item_count;
        std::string endpoint, file_name, content_type;
        std::set<std::string> entries; // of the archive; empty for a file sent as it is
    };
    const Case cases[] = {
        {"an ignored name beside a document", {"Thumbs.db", "a.pdf"}, false, "a.pdf", 1, "/api/upload-document",
         "a.pdf", "application/pdf", {}},
        {"an ignored name beside a clip", {"._clip.mp4", "clip.mp4"}, false, "clip.mp4", 1, "/api/upload-video",
         "clip.mp4", "video/mp4", {}},
        {"an ignored name beside a file to pack", {"note.bin", "desktop.ini"}, false, "note.bin", 1,
         "/api/upload-document", "note.zip", "application/zip", {"note.bin"}},
        {"an ignored name first of three", {"desktop.ini", "b.txt", "note.bin"}, false, "b 외 1개 항목", 2,
         "/api/upload-document", "b_외_1건.zip", "application/zip", {"b.txt", "note.bin"}},
        {"a link to a folder beside a file", {"note.bin", "folder_link"}, true, "note.bin", 1, "/api/upload-document",
         "note.zip", "application/zip", {"note.bin"}},
        {"a link to a document first", {"doc_link.pdf", "a.pdf"}, true, "a.pdf", 1, "/api/upload-document", "a.pdf",
         "application/pdf", {}},
    };
    UploadRig rig;
    ClipboardSpy clipboard;
    for (const char* name : {"Thumbs.db", "desktop.ini", "._clip.mp4"})
        rig.put(name, "left out");
    rig.put("a.pdf", "%PDF document");
    rig.put("clip.mp4", pattern_bytes(4000, 5));
    rig.put("note.bin", "note");
    rig.put("b.txt", "bravo");
    rig.put("Docs/inner.txt", "inner");
    const bool links = test_support::try_symlink(rig.source("Docs"), rig.source("folder_link"), true) &&
                       test_support::try_symlink(rig.source("a.pdf"), rig.source("doc_link.pdf"), false);
    rig.service.script({{"POST /api/upload-document", {{"json", {{"short_code", "d"}}}}},
                        {"POST /api/upload-video", {{"json", {{"short_code", "v"}}}}}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needs_links && !links)
            continue;
        std::vector<fs::path> paths;
        for (const auto& s : c.selected)
            paths.push_back(rig.source(s));
        rig.start(paths);
        const json target = field(rig.api("GET", "/api/local/state").body, "target");
        EXPECT_EQ(field(target, "display_name"), c.display_name);
        EXPECT_EQ(field(target, "item_count"), c.item_count);
        EXPECT_EQ(field(target, "upload_filename"), c.file_name);
        ASSERT_EQ(rig.start_upload(json::object()).status, 200);
        ASSERT_EQ(field(rig.wait_for_end(), "phase"), "done");

        const auto rec = rig.uploads().back();
        const std::string sent = test_support::file_bytes(rig.source(c.file_name));
        test_support::expect_upload_record(rec, {c.endpoint, {{"expiry_option", "30"}}, c.file_name, c.content_type},
                                           c.entries.empty() ? &sent : nullptr);
        if (c.entries.empty())
            continue;
        std::set<std::string> names;
        for (const auto& e : field(field(field(field(rec, "multipart"), "parts").back(), "zip"), "entries"))
            names.insert(field(e, "name").get<std::string>());
        EXPECT_EQ(names, c.entries);
    }
    if (!links)
        GTEST_SKIP() << "symbolic links cannot be created here; the other cases ran";
}

#ifndef _WIN32

// Opening a FIFO for reading waits for a writer: packing one would hold the job in
// "zipping" for good, and the idle rule never ends a busy instance. FIFOs at top level
// and inside a folder are left out, and the job ends.
TEST(UploadJob, ItemsNeitherFileNorFolderAreLeftOut)
{
    UploadRig rig;
    ClipboardSpy clipboard;
    rig.put("Docs/a.txt", "alpha");
    rig.put("c.txt", "charlie");
    const std::vector<fs::path> fifos = {rig.source("top.fifo"), rig.source("Docs/inner.fifo")};
    for (const auto& fifo : fifos)
        ASSERT_TRUE(test_support::try_fifo(fifo)) << fifo;
    rig.service.script({{"POST /api/upload-document", {{"json", {{"short_code", "f1"}}}}}});
    rig.start({fifos[0], rig.source("Docs"), rig.source("c.txt")});
    ASSERT_EQ(rig.start_upload(json::object()).status, 200);
    const json job = rig.wait_for_end();
    if (field(job, "phase") != "done")
        test_support::release_fifo_readers(fifos);
    ASSERT_EQ(field(job, "phase"), "done") << job.dump();

    const auto uploads = rig.uploads();
    ASSERT_EQ(uploads.size(), 1u);
    const json listing = field(field(field(uploads.back(), "multipart"), "parts").back(), "zip");
    std::set<std::string> names;
    for (const auto& e : field(listing, "entries"))
        names.insert(field(e, "name").get<std::string>());
    EXPECT_EQ(names, (std::set<std::string>{"Docs/a.txt", "c.txt"})) << listing.dump();
    EXPECT_TRUE(rig.leftover_archives().empty());
}

#endif

// A service that stops reading the body twice, at points the test chose: while it holds,
// the state route shows an upload in progress (sent and total megabytes, a figure below
// 99.5 that is higher at the second hold than at the first); once it reads on, the job
// ends, every figure on the way rose or stayed, and every declared byte was counted.
TEST(UploadJob, ProgressWhileTheServiceReadsSlowly)
{
    UploadRig rig;
    ClipboardSpy clipboard;
    const std::string bytes = pattern_bytes(32 << 20, 11);
    const auto path = rig.put("big.pdf", bytes);
    // Body bytes read before each hold; far enough apart that what the sockets hold
    // between the two sides (a few MiB) cannot bridge them.
    const std::pair<std::size_t, std::string> holds[] = {{2 << 20, "go-0"}, {16 << 20, "go-1"}};
    json body_holds = json::array();
    for (const auto& [at, name] : holds)
        body_holds.push_back({at, name});
    rig.service.script({{"POST /api/upload-document",
                         {{"read_block", 65536}, {"body_holds", body_holds}, {"json", {{"short_code", "slow"}}}}}});
    auto& server = rig.start({path});
    ASSERT_EQ(rig.start_upload(json::object()).status, 200);

    const std::regex detail(R"(서버 전송 중\.\.\. (\d+\.\d)MB / 32\.0MB \((\d+\.\d) MB/s\))");
    const auto sent_mb = [&](const json& job) {
        std::smatch m;
        const std::string text = job.value("detail_text", "");
        return std::regex_match(text, m, detail) ? std::stod(m[1].str()) : -1.0;
    };
    std::vector<json> seen;
    std::vector<double> at_hold;
    for (const auto& [at, name] : holds) {
        SCOPED_TRACE(name);
        // While the service holds, the client has handed over at least what it read.
        const double wanted_mb = static_cast<double>(at) / (1 << 20);
        const json job = rig.wait_for_job(
            [&](const json& j) { return j.value("phase", "") != "uploading" || sent_mb(j) >= wanted_mb; },
            "no progress up to the hold", &seen);
        ASSERT_EQ(field(job, "phase"), "uploading") << job.dump();
        const double p = field(job, "percent");
        EXPECT_GT(p, 0.0);
        EXPECT_LT(p, 99.5);
        at_hold.push_back(p);
        rig.service.release(name);
    }
    EXPECT_LT(at_hold[0], at_hold[1]) << "the figure did not rise between the holds";
    const json job = rig.wait_for_end(&seen);
    ASSERT_EQ(field(job, "phase"), "done") << job.dump();

    double last = 0.0;
    for (const auto& j : seen) {
        if (field(j, "phase") != "uploading")
            continue;
        const double p = field(j, "percent");
        EXPECT_GE(p, last);
        EXPECT_LE(p, 99.5);
        last = p;
        EXPECT_GE(sent_mb(j), 0.0) << field(j, "detail_text");
    }
    const auto rec = rig.uploads().back();
    test_support::expect_upload_record(rec, {"/api/upload-document", {{"expiry_option", "30"}}, "big.pdf",
                                             "application/pdf"}, &bytes);
    EXPECT_EQ(server::ServerStateProbe::counters(*server.state).upload_sent_bytes->load(), rec.value("body_size", 0u));
    EXPECT_EQ(server::ServerStateProbe::counters(*server.state).upload_total_bytes->load(), rec.value("body_size", 0u));
}

// The job on its own, on a state that still holds the figures of an earlier upload: a
// tiny file's progress starts from 0 bytes sent, so that every byte counted is its own.
TEST(UploadJob, ProgressCountsFromZeroAfterAnEarlierUpload)
{
    UploadRig rig;
    ClipboardSpy clipboard;
    const auto tiny = rig.put("tiny.pdf", "x");
    struct Case {
        std::string_view name;
        std::uint64_t earlier_sent;
        std::uint64_t earlier_total;
    };
    const Case cases[] = {
        {"fresh state", 0, 0},
        {"after a whole upload", 5 << 20, 5 << 20},
        {"after an upload that stopped part way", 100, 5 << 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig.service.script({{"POST /api/upload-document", {{"json", {{"short_code", "t"}}}}}});
        auto state = std::make_shared<server::ServerState>(std::string(test::TOKEN), std::vector<fs::path>{});
        const auto target = config::analyze_selection({tiny});
        auto job = server::ServerState::begin_job(state, target);
        ASSERT_TRUE(job);
        // Left by an earlier job after the start reset them: the job's own reset counts.
        server::ServerStateProbe::counters(*state).upload_sent_bytes->store(c.earlier_sent);
        server::ServerStateProbe::counters(*state).upload_total_bytes->store(c.earlier_total);
        uploader::run_upload_job(std::move(*job), state->config_snapshot(), target, {tiny}, std::nullopt, "30",
                                 std::nullopt);
        EXPECT_EQ(state->job_view().phase, "done");
        const auto body_size = rig.uploads().back().value("body_size", std::uint64_t{0});
        EXPECT_EQ(server::ServerStateProbe::counters(*state).upload_sent_bytes->load(), body_size);
        EXPECT_EQ(server::ServerStateProbe::counters(*state).upload_total_bytes->load(), body_size);
    }
}

// The job on its own, for targets the selection rules never make: a direct target with
// several paths sends only the first; with none, or with a file that is gone, nothing is
// sent.
TEST(UploadJob, DirectTargetPaths)
{
    UploadRig rig;
    ClipboardSpy clipboard;
    const auto a = rig.put("a.pdf", "first");
    const auto b = rig.put("b.pdf", "second");
    struct Case {
        std::string_view name;
        std::vector<fs::path> paths;
        std::optional<std::string> sent; // the file's bytes, nothing when no request goes out
        std::string error;
    };
    const Case cases[] = {
        {"only the first of several", {a, b}, "first", ""},
        {"no path", {}, std::nullopt, "공유할 파일을 찾을 수 없습니다."},
        {"a file that is gone", {rig.source("gone.pdf"), a}, std::nullopt, "업로드할 파일을 열 수 없습니다: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = rig.uploads().size();
        auto target = config::analyze_selection({a});
        auto state = std::make_shared<server::ServerState>(std::string(test::TOKEN), std::vector<fs::path>{});
        auto handle = server::ServerState::begin_job(state, target);
        ASSERT_TRUE(handle);
        uploader::run_upload_job(std::move(*handle), state->config_snapshot(), target, c.paths, std::nullopt, "30",
                                 std::nullopt);
        const auto job = state->job_view();
        ASSERT_EQ(rig.uploads().size(), before + (c.sent ? 1 : 0));
        if (c.sent) {
            EXPECT_EQ(job.phase, "done");
            test_support::expect_upload_record(rig.uploads().back(), {"/api/upload-document", {{"expiry_option", "30"}},
                                                                      "a.pdf", "application/pdf"}, &*c.sent);
        } else {
            EXPECT_EQ(job.phase, "error");
            EXPECT_TRUE(job.error.value_or("").starts_with(c.error)) << job.error.value_or("");
            EXPECT_FALSE(job.result.has_value());
        }
    }
}

// A redirect never carries the upload (or the key) elsewhere, and never turns it into a
// bodiless GET: every kind, to the same service or to another one that would answer with a
// link, ends the job in "error" naming the status, and nothing is copied.
TEST(UploadJob, RedirectedUploadsFail)
{
    UploadRig rig;
    const test_support::StandInService other;
    const json link_reply = {{"json", {{"short_code", "redirected"}}}};
    other.script({{"POST /api/upload-document", link_reply}, {"GET /api/upload-document", link_reply}});
    struct Case {
        std::string_view name;
        int status;
        bool same_origin;
        bool location = true;
    };
    const Case cases[] = {
        {"302 with no Location and a link in its body", 302, true, false},
        {"308 with no Location and a link in its body", 308, true, false},
        {"301 to the same service", 301, true},  {"302 to the same service", 302, true},
        {"303 to the same service", 303, true},  {"307 to the same service", 307, true},
        {"308 to the same service", 308, true},  {"301 to another port", 301, false},
        {"302 to another port", 302, false},     {"303 to another port", 303, false},
        {"307 to another port", 307, false},     {"308 to another port", 308, false},
    };
    ClipboardSpy clipboard;
    const auto path = rig.put("a.pdf", "bytes of a");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string location =
            c.same_origin ? rig.base() + "/api/upload-moved" : other.url() + "/api/upload-document";
        const json redirect = c.location ? json{{"status", c.status},
                                                {"headers", {{"Location", location}}},
                                                {"json", json::object()}}
                                         : json{{"status", c.status}, {"json", {{"short_code", "redirected"}}}};
        rig.service.script({{"POST /api/upload-document", redirect},
                            {"POST /api/upload-moved", link_reply},
                            {"GET /api/upload-moved", link_reply}});
        clipboard.clear();
        const auto other_before = other.requests().size();
        rig.start({path});
        ASSERT_EQ(rig.start_upload(json::object()).status, 200);
        const json job = rig.wait_for_end();
        EXPECT_EQ(job.value("phase", ""), "error") << job.dump();
        const json error = job.value("error", json());
        EXPECT_NE((error.is_string() ? error.get<std::string>() : "").find("HTTP " + std::to_string(c.status)),
                  std::string::npos)
            << job.dump();
        EXPECT_TRUE(job.value("result", json()).is_null());
        EXPECT_EQ(clipboard.sent(), std::nullopt);
        EXPECT_EQ(other.requests().size(), other_before);
        EXPECT_FALSE(std::ranges::any_of(rig.service.requests(),
                                         [](const json& r) { return r.value("path", "") == "/api/upload-moved"; }));
    }
}

#ifndef _WIN32
// A copy that PowerShell reports as failed leaves the job "done" but says so, and the
// copy route answers 400 with the reason; a copy that worked keeps the usual texts.
TEST(UploadJob, ClipboardOutcomeIsReported)
{
    struct Case {
        std::string_view name;
        std::string powershell; // the stand-in's body
        std::string detail_text;
        int copy_status;
        json copy_body;
    };
    const std::string failure = "클립보드 복사 실패: PowerShell 종료 코드 1";
    const Case cases[] = {
        {"access denied", "cat > /dev/null; echo 'Access is denied' >&2; exit 1", uploader::not_copied_text(failure),
         400, {{"detail", failure}}},
        {"exit code 5", "cat > /dev/null; exit 5",
         uploader::not_copied_text("클립보드 복사 실패: PowerShell 종료 코드 5"), 400,
         {{"detail", "클립보드 복사 실패: PowerShell 종료 코드 5"}}},
        {"copied", "cat > /dev/null; exit 0", std::string(done_text), 200, {{"success", true}}},
    };
    UploadRig rig;
    test_support::StandIns stand_ins;
    rig.service.script({{"POST /api/upload-document", {{"json", {{"short_code", "clip"}}}}}});
    const auto path = rig.put("a.pdf", "bytes");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        stand_ins.add("powershell", c.powershell);
        rig.start({path});
        ASSERT_EQ(rig.start_upload(json::object()).status, 200);
        const json job = rig.wait_for_end();
        EXPECT_EQ(job.value("phase", ""), "done") << job.dump();
        EXPECT_EQ(job.value("detail_text", ""), c.detail_text);
        const json result = job.value("result", json());
        EXPECT_EQ(result.is_object() ? result.value("short_url", "") : "", rig.base() + "/clip");
        const auto copied = rig.api("POST", "/api/local/copy", json{{"text", rig.base() + "/clip"}}.dump());
        EXPECT_EQ(copied.status, c.copy_status);
        EXPECT_EQ(copied.body, c.copy_body);
    }
}
#endif

// A selected file whose name a plain Windows path turns into another file or a device goes
// out whole, with its own bytes: as it is, or as the one entry of an archive when its
// extension is of no known kind.
TEST(UploadJob, SelectedFileNamesTakenAsWritten)
{
    UploadRig rig;
    ClipboardSpy clipboard;
    struct Case {
        std::string_view name;
        std::string file_name;
        std::string sent_name; // the upload's file name
        bool zipped;
    };
    const Case cases[] = {
        {"trailing dot beside the name without it", "a.txt.", "a.txt.zip", true},
        {"trailing blank", "b.txt ", "b.zip", true},
        {"device name with an extension", "NUL.txt", "NUL.txt", false},
        {"device name that stalls an open", "aux.log", "aux.zip", true},
        {"device name alone", "CON", "CON.zip", true},
    };
    // Plain Windows paths reach this file instead of "a.txt.".
    test_support::put_as_written(rig.source("a.txt"), "the other file");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = rig.uploads().size();
        const std::string bytes = pattern_bytes(3000 + c.file_name.size(), static_cast<unsigned>(c.name.size()));
        const auto path = rig.source(c.file_name);
        test_support::put_as_written(path, bytes);
        rig.start({path});
        const auto started = rig.start_upload(json::object());
        ASSERT_EQ(started.status, 200) << started.body.dump();
        const json job = rig.wait_for_end();
        EXPECT_EQ(job["phase"], "done") << job.dump();
        const auto uploads = rig.uploads();
        ASSERT_EQ(uploads.size(), before + 1);
        const json& file = uploads.back().at("multipart").at("parts").back();
        EXPECT_EQ(file.value("filename", ""), c.sent_name);
        if (c.zipped) {
            const json want = json::array({{{"name", c.file_name}, {"sha256", test_support::sha256_hex(bytes)}}});
            json got = json::array();
            for (const auto& e : file.value("zip", json::object()).value("entries", json::array()))
                got.push_back({{"name", e.value("name", "")}, {"sha256", e.value("sha256", "")}});
            EXPECT_EQ(got, want);
        } else {
            EXPECT_EQ(file.value("size", std::int64_t{-1}), static_cast<std::int64_t>(bytes.size()));
            EXPECT_EQ(file.value("sha256", ""), test_support::sha256_hex(bytes));
        }
        EXPECT_TRUE(rig.leftover_archives().empty());
    }
}

} // namespace
