// The selection and upload-start routes over the local API: the checks of start-upload in
// their order, the values the job sends, the busy rules, and pick and add-paths with the
// job record.

#include "support/upload_rig.h"
#include "support/state_probe.h"

#include "config/selection.h"
#include "platform/unicode.h"
#include "server/json_forms.h"
#include "support/json_field.h"

#include <gtest/gtest.h>

#include <future>

#ifndef _WIN32
#include "shell/stand_ins.h"
#endif

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test_support::path_texts;
using test_support::field;
using test_support::UploadRig;

const std::string busy_message = "이미 업로드가 진행 중입니다.";

void set_phase(server::ServerState& state, std::string phase)
{
    auto job = server::ServerStateProbe::job(state).lock();
    job->phase = std::move(phase);
    job->detail_text = "kept";
}

std::string phase_of(server::ServerState& state) { return server::ServerStateProbe::job(state).lock()->phase; }

TEST(StartUpload, ChecksAndSentValues)
{
    enum class Pick { nothing, pdf, empty_file, big_media };
    struct Case {
        std::string_view name;
        bool logged_in;
        Pick selection;
        bool busy; // a job is already uploading
        json body;
        int status;
        std::string detail;                                       // when status is not 200
        std::vector<std::pair<std::string, std::string>> fields; // what the service got, 200 only
    };
    const Case cases[] = {
        {"nobody logged in, nothing selected", false, Pick::nothing, false, json::object(), 401,
         "먼저 계정으로 로그인해 주세요.", {}},
        {"nobody logged in while busy", false, Pick::pdf, true, json::object(), 401, "먼저 계정으로 로그인해 주세요.", {}},
        {"nothing selected", true, Pick::nothing, true, json::object(), 400, "공유할 파일이나 폴더를 선택해 주세요.", {}},
        {"invalid target gives its message", true, Pick::empty_file, false, json::object(), 400,
         "빈 파일(0바이트)은 공유할 수 없습니다.", {}},
        {"a second start while busy", true, Pick::pdf, true, json::object(), 400, busy_message, {}},
        {"defaults", true, Pick::pdf, false, "not json", 200, "", {{"expiry_option", "30"}}},
        {"code trimmed, inner blank to underscore; details trimmed", true, Pick::pdf, false,
         {{"custom_code", "  two words  "}, {"qr_details", "  회의 자료 "}}, 200, "",
         {{"expiry_option", "30"}, {"custom_code", "two_words"}, {"qr_details", "회의 자료"}}},
        {"code and details of blanks", true, Pick::pdf, false,
         {{"custom_code", "   "}, {"qr_details", " \t "}}, 200, "", {{"expiry_option", "30"}}},
        {"code that is a number", true, Pick::pdf, false, {{"custom_code", 42}}, 200, "", {{"expiry_option", "30"}}},
        {"expiry trimmed", true, Pick::pdf, false, {{"expiry_option", " 7 "}}, 200, "", {{"expiry_option", "7"}}},
        {"expiry as a number", true, Pick::pdf, false, {{"expiry_option", 7}}, 200, "", {{"expiry_option", "30"}}},
        {"empty expiry passed on", true, Pick::pdf, false, {{"expiry_option", ""}}, 200, "", {{"expiry_option", ""}}},
        {"expiry of blanks", true, Pick::pdf, false, {{"expiry_option", "   "}}, 200, "", {{"expiry_option", ""}}},
        {"any other text", true, Pick::pdf, false, {{"expiry_option", "2027-01-31"}}, 200, "",
         {{"expiry_option", "2027-01-31"}}},
        {"big media forces three days", true, Pick::big_media, false, {{"expiry_option", "30"}}, 200, "",
         {{"expiry_option", "3"}}},
    };

    UploadRig with_key;
    // Big media would be half a gigabyte on the wire: the service hangs up once it has the
    // text fields, and the job ends in "error", which is beside the point here.
    with_key.service.script({{"POST /api/upload-document", {{"json", {{"short_code", "s"}}}}},
                             {"POST /api/upload-video", {{"drop_after_body_bytes", 4096}}}});
    const auto pdf = with_key.put("a.pdf", "pdf bytes");
    const auto empty = with_key.put("empty.pdf", "");
    const auto big = with_key.source("big.mp4");
    std::ofstream(big, std::ios::binary).close();
    fs::resize_file(big, 524'288'001); // sparse where the file system allows

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<UploadRig> without_key;
        if (!c.logged_in)
            without_key.emplace("");
        UploadRig& rig = c.logged_in ? with_key : *without_key;
        std::vector<fs::path> paths;
        if (c.selection == Pick::pdf)
            paths = {pdf};
        if (c.selection == Pick::empty_file)
            paths = {empty};
        if (c.selection == Pick::big_media)
            paths = {big};
        auto& server = rig.start(paths);
        if (c.busy)
            set_phase(*server.state, "uploading");
        const auto before = rig.uploads().size();

        // A string row is sent as raw bytes (a body that is not JSON).
        const auto reply =
            rig.api("POST", "/api/local/start-upload", c.body.is_string() ? c.body.get<std::string>() : c.body.dump());
        ASSERT_EQ(reply.status, c.status) << reply.body.dump();
        if (c.status != 200) {
            EXPECT_EQ(reply.body, json({{"detail", c.detail}}));
            EXPECT_EQ(phase_of(*server.state), c.busy ? "uploading" : "idle");
            EXPECT_EQ(rig.uploads().size(), before);
            continue;
        }
        EXPECT_EQ(reply.body, json({{"success", true}}));
        rig.wait_for_end();
        const auto uploads = rig.uploads();
        ASSERT_EQ(uploads.size(), before + 1);
        const auto& parts = field(field(uploads.back(), "multipart"), "parts");
        ASSERT_GE(parts.size(), c.fields.size());
        for (std::size_t i = 0; i < c.fields.size(); ++i) {
            EXPECT_EQ(field(parts[i], "name"), c.fields[i].first);
            EXPECT_EQ(field(parts[i], "value"), c.fields[i].second);
        }
        EXPECT_EQ(field(parts.back(), "name"), parts.size() > c.fields.size() ? "file" : c.fields.back().first);
    }
}

// Two starts at once: the busy test and the first phase happen in one hold of the job
// lock, so exactly one is accepted. A start after the job ended is accepted again, and the
// record keeps its old detail text while the state route shows the figures instead. The
// service holds each upload's reply until the round has looked, so the job is busy
// throughout however slow the machine.
TEST(StartUpload, RacingStartsAndARestart)
{
    UploadRig rig;
#ifndef _WIN32
    // A clipboard that takes the link, so that the ended job keeps the copied text.
    test_support::StandIns clipboard;
    clipboard.add("powershell", "cat > /dev/null");
#endif
    json replies = json::array();
    for (const char* hold : {"go-0", "go-1"})
        replies.push_back({{"hold_until_file", hold}, {"json", {{"short_code", "r"}}}});
    rig.service.script({{"POST /api/upload-document", replies}});
    auto& server = rig.start({rig.put("a.pdf", "bytes")});
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        std::promise<void> go;
        std::shared_future<void> gate = go.get_future().share();
        auto fire = [&] {
            gate.wait();
            return rig.start_upload(json::object());
        };
        auto first = std::async(std::launch::async, fire);
        auto second = std::async(std::launch::async, fire);
        go.set_value();
        const auto a = first.get();
        const auto b = second.get();
        ASSERT_EQ(std::min(a.status, b.status), 200);
        ASSERT_EQ(std::max(a.status, b.status), 400);
        EXPECT_EQ((a.status == 400 ? a : b).body, json({{"detail", busy_message}}));
        if (round > 0) {
            // The record of the ended job keeps its text; the reply shows the figures.
            EXPECT_EQ(server::ServerStateProbe::job(*server.state).lock()->detail_text, test_support::done_text);
            const auto state = rig.api("GET", "/api/local/state").body;
            EXPECT_TRUE(field(field(state, "job"), "detail_text").get<std::string>().starts_with("서버 전송 중... "))
                << field(state, "job").dump();
            EXPECT_TRUE(field(field(state, "job"), "result").is_null());
        }
        rig.service.release("go-" + std::to_string(round));
        EXPECT_EQ(rig.wait_for_end()["phase"], "done");
    }
    EXPECT_EQ(rig.uploads().size(), 2u);
}

TEST(AddPaths, MergeRulesAndTheJobRecord)
{
    UploadRig rig;
    const auto a = rig.put("a.pdf", "a");
    const auto b = rig.put("b.pdf", "b");
    const auto d = rig.source("dir");
    rig.put("dir/x.txt", "x");
    const std::string ta = platform::path_to_utf8(a), tb = platform::path_to_utf8(b),
                      td = platform::path_to_utf8(d);
#ifdef _WIN32
    std::string ta_other = ta; // the same file with "/" for "\" and a lower-case drive letter
    std::replace(ta_other.begin(), ta_other.end(), '\\', '/');
    ta_other[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(ta_other[0])));
#else
    const std::string ta_other = platform::path_to_utf8(a.parent_path()) + "//" + platform::path_to_utf8(a.filename());
#endif
    const std::string missing = platform::path_to_utf8(rig.source("missing.pdf"));
    const std::string nul(1, '\0');
    struct Case {
        std::string_view name;
        std::vector<fs::path> initial;
        std::string phase; // of the job record before the call
        std::string body;  // raw
        std::vector<fs::path> paths;
        std::string phase_after;
    };
    const Case cases[] = {
        {"new path follows the old ones; a done job is cleared", {a}, "done", json({{"paths", {tb}}}).dump(), {a, b},
         "idle"},
        {"the same path spelled otherwise is no repeat", {a}, "error", json({{"paths", {ta_other, tb}}}).dump(), {a, b},
         "idle"},
        {"a folder with a trailing separator", {d}, "idle", json({{"paths", {td + "/"}}}).dump(), {d}, "idle"},
        {"repeats already in the list drop out", {a, b, a}, "uploading", json({{"paths", {tb}}}).dump(), {a, b},
         "uploading"},
        {"replace keeps the incoming order without repeats", {a}, "zipping",
         json({{"paths", {tb, tb, ta}}, {"replace", true}}).dump(), {b, a}, "zipping"},
        {"replace only when true itself", {a}, "done", json({{"paths", {tb}}, {"replace", "true"}}).dump(), {a, b},
         "idle"},
        {"elements that are not strings are skipped", {a}, "done", json({{"paths", {1, nullptr, tb}}}).dump(), {a, b},
         "idle"},
        {"only missing paths change nothing", {a}, "done", json({{"paths", {missing}}}).dump(), {a}, "done"},
        // The OS would see only the text before the NUL, the real a.pdf, and the name after
        // it would make the target a video.
        {"a path holding NUL names no file", {a}, "done",
         json({{"paths", {ta + nul + "/../clip.mp4"}}, {"replace", true}}).dump(), {a}, "done"},
        {"a path holding NUL is dropped beside a real one", {a}, "done",
         json({{"paths", {ta + nul + "/../clip.mp4", tb}}, {"replace", true}}).dump(), {b}, "idle"},
        {"paths not an array change nothing", {a}, "error", json({{"paths", tb}}).dump(), {a}, "error"},
        {"a body that is not JSON changes nothing", {a}, "done", "{\"paths\": [", {a}, "done"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto& server = rig.start(c.initial);
        set_phase(*server.state, c.phase);
        const auto reply = rig.api("POST", "/api/local/add-paths", c.body);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body, json({{"success", true}}));
        const auto settled = server.settled_selection();
        EXPECT_EQ(path_texts(settled.paths), path_texts(c.paths));
        EXPECT_EQ(settled.target, config::analyze_selection(c.paths));
        EXPECT_EQ(phase_of(*server.state), c.phase_after);
    }
}

#ifndef _WIN32

// The dialog is a stand-in PowerShell that prints paths (a POSIX shell script, so these
// run in the Linux build only; under wine PowerShell is wine's own).
TEST(Pick, DialogOutcomes)
{
    UploadRig rig;
    test_support::StandIns stand_ins;
    const auto a = rig.put("a.pdf", "a");
    const auto b = rig.put("b.txt", "b");
    const auto missing = rig.source("missing.pdf");
    struct Case {
        std::string_view name;
        std::string body;
        std::optional<std::string> script; // the stand-in's body; nothing: no PowerShell at all
        std::optional<std::vector<fs::path>> picked; // nothing: cancelled or failed
        int status;
        std::string dialog; // a word of the script the dialog ran
    };
    const auto print = [](std::initializer_list<fs::path> ps) {
        std::string out = "printf '";
        for (const auto& p : ps)
            out += platform::path_to_utf8(p) + "\\r\\n";
        return out + "'";
    };
    const Case cases[] = {
        {"files in the dialog's order, a missing one kept", "{}", print({b, missing, a}),
         std::vector<fs::path>{b, missing, a}, 200, "OpenFileDialog"},
        {"folder dialog for true", R"({"folder": true})", print({rig.source("")}), std::vector<fs::path>{rig.source("")},
         200, "FolderBrowserDialog"},
        {"file dialog for a string", R"({"folder": "true"})", print({a}), std::vector<fs::path>{a}, 200,
         "OpenFileDialog"},
        {"closed without a choice", "{}", "exit 0", std::nullopt, 200, "OpenFileDialog"},
        {"a failing script is a cancel", "{}", print({a}) + "; exit 1", std::nullopt, 200, "OpenFileDialog"},
        {"no PowerShell", "{}", std::nullopt, std::nullopt, 400, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.script)
            stand_ins.add("powershell", *c.script);
        else
            stand_ins.remove("powershell");
        std::filesystem::remove(stand_ins.log_path());
        auto& server = rig.start({a});
        set_phase(*server.state, "done");
        const auto reply = rig.api("POST", "/api/local/pick", c.body);
        ASSERT_EQ(reply.status, c.status) << reply.body.dump();
        if (c.status == 400) {
            EXPECT_TRUE(field(reply.body, "detail").get<std::string>().starts_with("파일 선택창 실행 실패: ")) << reply.body;
        } else if (!c.picked) {
            EXPECT_EQ(reply.body, json({{"success", false}, {"cancelled", true}}));
        } else {
            EXPECT_EQ(reply.body, json({{"success", true}, {"target", server::to_value(config::analyze_selection(*c.picked))}}));
        }
        if (!c.dialog.empty()) {
            const auto runs = stand_ins.invocations();
            ASSERT_EQ(runs.size(), 1u);
            EXPECT_NE(runs[0].args.back().find(c.dialog), std::string::npos) << runs[0];
        }
        const auto paths = c.picked.value_or(std::vector<fs::path>{a});
        EXPECT_EQ(path_texts(server.state->selection_view().paths), path_texts(paths));
        EXPECT_EQ(server.state->selection_view().target, config::analyze_selection(paths));
        EXPECT_EQ(phase_of(*server.state), c.picked ? "idle" : "done");
    }
}

#else

TEST(Pick, DialogOutcomes)
{
    GTEST_SKIP() << "the dialog stand-in is a POSIX shell script; under wine PowerShell is wine's own";
}

#endif

// While a job uploads, add-paths and pick change the selection but leave the job record to
// the running job, which writes its outcome into it. The service holds the upload's reply
// until those calls are done.
TEST(SelectionWhileUploading, JobRecordRules)
{
    UploadRig rig;
    rig.service.script({{"POST /api/upload-document", {{"hold_until_file", "go"}, {"json", {{"short_code", "w"}}}}}});
    const auto a = rig.put("a.pdf", "a");
    const auto b = rig.put("b.pdf", "b");
    auto& server = rig.start({a});
    ASSERT_EQ(rig.start_upload(json::object()).status, 200);

    ASSERT_EQ(rig.api("POST", "/api/local/add-paths", json({{"paths", {platform::path_to_utf8(b)}}}).dump()).status, 200);
    EXPECT_EQ(path_texts(server.state->selection_view().paths), path_texts({a, b}));
    EXPECT_EQ(phase_of(*server.state), "uploading");
#ifndef _WIN32
    test_support::StandIns stand_ins;
    // Only the dialog prints; the job's clipboard copy runs the same stand-in.
    stand_ins.add("powershell", "case \"$*\" in *OpenFileDialog*) printf '%s\\n' '" + platform::path_to_utf8(b) + "';; esac");
    const auto picked = rig.api("POST", "/api/local/pick", "{}");
    ASSERT_EQ(picked.status, 200);
    EXPECT_EQ(field(field(picked.body, "target"), "upload_filename"), "b.pdf");
    EXPECT_EQ(phase_of(*server.state), "uploading");
#endif
    rig.service.release("go");
    const auto job = rig.wait_for_end();
    EXPECT_EQ(field(job, "phase"), "done");
    EXPECT_EQ(field(field(job, "result"), "original_name"), "a.pdf") << "the job keeps the selection it started with";
}

} // namespace
