// The upload-start route over the local API: the checks of start-upload in their order,
// the values the job sends, and the busy rules.

#include "support/upload_rig.h"
#include "support/state_probe.h"

#include "support/json_field.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <optional>

#ifndef _WIN32
#include "shell/stand_ins.h"
#endif

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test_support::field;
using test_support::phase_of;
using test_support::set_phase;
using test_support::UploadRig;

const std::string busy_message = "이미 업로드가 진행 중입니다.";

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

} // namespace
