// Requests that overlap as Explorer's one-process-per-item hand-offs and a busy page make
// them: the stored target always describes the stored paths, an upload goes out as the
// pair it was started from, and one job runs at a time.

#include "support/upload_rig.h"

#include "config/selection.h"
#include "platform/unicode.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "shell/stand_ins.h"
#endif

#include <atomic>
#include <future>
#include <set>
#include <thread>

namespace {

using test_support::UploadRig;
using test_support::path_texts;
using nlohmann::json;
namespace fs = std::filesystem;

// Ten one-path hand-offs at once on top of a big folder: every accepted path is in the
// selection, and the target is the analysis of exactly that selection.
TEST(SelectionRace, OverlappingHandOffsKeepEveryPathInTheTarget)
{
    constexpr int rounds = 4;
    constexpr int newcomers = 10;
    UploadRig rig;
    const auto folder = rig.source("big");
    for (int i = 0; i < 3000; ++i) {
        if (i % 500 == 0)
            fs::create_directories(folder / ("d" + std::to_string(i / 500)));
        test_support::put_file(folder / ("d" + std::to_string(i / 500)) / ("f" + std::to_string(i) + ".txt"), "x");
    }
    std::vector<fs::path> singles;
    for (int i = 0; i < newcomers; ++i)
        singles.push_back(rig.put("item" + std::to_string(i) + ".pdf", "pdf"));

    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        auto& server = rig.start({folder});
        std::promise<void> go;
        std::shared_future<void> gate = go.get_future().share();
        std::vector<std::future<int>> replies;
        for (const auto& p : singles)
            replies.push_back(std::async(std::launch::async, [&, text = platform::path_to_utf8(p)] {
                gate.wait();
                return rig.api("POST", "/api/local/add-paths", json({{"paths", {text}}}).dump()).status;
            }));
        go.set_value();
        for (auto& r : replies)
            ASSERT_EQ(r.get(), 200);

        const auto settled = server.settled_selection();
        const auto& paths = settled.paths;
        const auto texts = path_texts(paths);
        const std::set<std::string> held(texts.begin(), texts.end());
        EXPECT_EQ(paths.size(), singles.size() + 1);
        for (const auto& p : singles)
            EXPECT_TRUE(held.contains(platform::path_to_utf8(p))) << platform::path_to_utf8(p);
        const auto& target = settled.target;
        EXPECT_EQ(target.paths, texts);
        EXPECT_EQ(target.item_count, paths.size());
        EXPECT_EQ(target.upload_filename, "big_외_" + std::to_string(newcomers) + "건.zip");
    }
}

// add-paths swaps the selection between two files while uploads start one after the other:
// every file the service receives goes out under its own name and kind, never one file's
// bytes under the other's name.
TEST(SelectionRace, UploadsGoOutAsTheSelectionTheyStartedFrom)
{
    constexpr int uploads_wanted = 25;
    UploadRig rig;
    const std::string small_bytes = "small document";
    const std::string clip_bytes(4096, 'v');
    const auto small = rig.put("small.pdf", small_bytes);
    const auto clip = rig.put("clip.mp4", clip_bytes);
    // Enough neighbours that each analysis takes a while.
    std::vector<std::string> pad;
    for (int i = 0; i < 200; ++i)
        pad.push_back(platform::path_to_utf8(rig.put("pad/p" + std::to_string(i) + ".txt", "p")));
    rig.service.script({{"POST /api/upload-document", {{"json", {{"short_code", "d"}}}}},
                        {"POST /api/upload-video", {{"json", {{"short_code", "v"}}}}}});
    auto& server = rig.start({small});
    (void)server;

    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        for (int i = 0; !stop.load(); ++i) {
            // A two-item list between the single files makes each swap change the kind too.
            json paths = json::array();
            if (i % 3 == 0)
                paths.push_back(platform::path_to_utf8(small));
            else if (i % 3 == 1)
                paths.push_back(platform::path_to_utf8(clip));
            else
                paths = pad;
            (void)rig.api("POST", "/api/local/add-paths", json({{"paths", paths}, {"replace", true}}).dump());
        }
    });
    int accepted = 0;
    for (int attempt = 0; attempt < 2000 && accepted < uploads_wanted; ++attempt) {
        const auto reply = rig.start_upload(json::object());
        if (reply.status != 200)
            continue;
        ++accepted;
        // The swaps clear a finished record at once: wait for the job to leave its phases.
        rig.wait_for_job(
            [](const json& job) {
                const std::string phase = job.value("phase", "");
                return phase != "zipping" && phase != "uploading";
            },
            "the job did not end");
    }
    stop = true;
    swapper.join();
    ASSERT_EQ(accepted, uploads_wanted);

    const std::string small_sha = test_support::sha256_hex(small_bytes);
    const std::string clip_sha = test_support::sha256_hex(clip_bytes);
    for (const auto& rec : rig.uploads()) {
        const auto& parts = rec["multipart"]["parts"];
        ASSERT_FALSE(parts.empty()) << rec.dump().substr(0, 400);
        const auto& file = parts.back();
        const std::string name = file.value("filename", "");
        SCOPED_TRACE(name);
        if (name == "small.pdf") {
            EXPECT_EQ(rec["path"], "/api/upload-document");
            EXPECT_EQ(file["sha256"], small_sha);
        } else if (name == "clip.mp4") {
            EXPECT_EQ(rec["path"], "/api/upload-video");
            EXPECT_EQ(file["sha256"], clip_sha);
        } else {
            // The padded list is an archive of exactly its 200 files.
            EXPECT_EQ(rec["path"], "/api/upload-document");
            EXPECT_EQ(file["zip"]["entries"].size(), pad.size()) << name;
        }
    }
}

#ifndef _WIN32

// A pick while the first job uploads changes the selection but lets no second job start
// before the first has ended; the page keeps seeing the running job and then its link.
TEST(SelectionRace, PickDuringAnUploadStartsNoSecondJob)
{
    UploadRig rig;
    rig.service.script({{"POST /api/upload-document", {{"hold_until_file", "go"}, {"json", {{"short_code", "first"}}}}}});
    const auto a = rig.put("a.pdf", "a");
    const auto b = rig.put("b.pdf", "b");
    auto& server = rig.start({a});
    ASSERT_EQ(rig.start_upload(json::object()).status, 200);
    rig.wait_for_job([](const json& job) { return job.value("phase", "") == "uploading"; }, "no upload");

    test_support::StandIns stand_ins;
    // Only the dialog prints; the job's clipboard copy runs the same stand-in.
    stand_ins.add("powershell", "case \"$*\" in *OpenFileDialog*) printf '%s\\n' '" + platform::path_to_utf8(b) + "';; esac");
    const auto picked = rig.api("POST", "/api/local/pick", "{}");
    ASSERT_EQ(picked.status, 200);
    EXPECT_EQ(picked.body["target"]["upload_filename"], "b.pdf");
    EXPECT_EQ(path_texts(server.state->selection_view().paths), path_texts({b}));

    const auto state = rig.api("GET", "/api/local/state").body;
    EXPECT_EQ(state["job"]["phase"], "uploading") << "the page must still see the running job";
    const auto second = rig.start_upload(json::object());
    EXPECT_EQ(second.status, 400);
    EXPECT_EQ(second.body, json({{"detail", "이미 업로드가 진행 중입니다."}}));

    rig.service.release("go");
    const auto job = rig.wait_for_end();
    EXPECT_EQ(job["phase"], "done");
    EXPECT_EQ(job["result"]["short_code"], "first");
    EXPECT_EQ(job["result"]["original_name"], "a.pdf");
    EXPECT_EQ(rig.uploads().size(), 1u);

    // Once the first job has ended, the picked selection starts as usual.
    ASSERT_EQ(rig.start_upload(json::object()).status, 200);
    EXPECT_EQ(rig.wait_for_end()["result"]["original_name"], "b.pdf");
    EXPECT_EQ(rig.uploads().size(), 2u);
}

#endif

} // namespace
