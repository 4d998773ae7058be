// The selection routes over the local API: pick and add-paths with the job record, also
// while a job uploads.

#include "support/upload_rig.h"
#include "support/state_probe.h"

#include "config/selection.h"
#include "platform/unicode.h"
#include "server/json_forms.h"
#include "support/json_field.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "shell/stand_ins.h"
#endif

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test_support::path_texts;
using test_support::field;
using test_support::phase_of;
using test_support::set_phase;
using test_support::UploadRig;

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
