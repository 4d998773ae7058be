// The versioned selection over the local API: add-paths answers before its analysis, the
// page sees the version and whether its analysis is done, and start-upload sends only
// the version the page showed, once analysed.

#include "support/state_probe.h"
#include "support/upload_rig.h"

#include "platform/unicode.h"
#include "support/json_field.h"

#include <gtest/gtest.h>

#include <future>
#include <limits>

#ifndef _WIN32
#include "shell/stand_ins.h"
#endif

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using server::ServerStateProbe;
using test_support::field;
using test_support::UploadRig;

const json not_ready_reply = {{"detail", "선택한 항목을 확인하는 중입니다. 잠시 후 다시 시작해 주세요."}};
const json changed_reply = {{"detail", "선택한 항목이 바뀌었습니다. 바뀐 선택을 확인한 뒤 다시 시작해 주세요."},
                            {"selection_changed", true}};

json add_paths(const UploadRig& rig, const std::vector<fs::path>& paths, bool replace = false)
{
    json texts = json::array();
    for (const auto& p : paths)
        texts.push_back(platform::path_to_utf8(p));
    const auto reply = rig.api("POST", "/api/local/add-paths", json({{"paths", texts}, {"replace", replace}}).dump());
    EXPECT_EQ(reply.status, 200);
    return reply.body;
}

json version_reply(const UploadRig& rig) { return rig.api("GET", "/api/local/selection-version").body; }

// The analyses of stored changes wait until release() (or a minute, so that an
// implementation that analyses before answering fails instead of hanging).
class HeldAnalysis {
public:
    explicit HeldAnalysis(server::ServerState& state)
    {
        ServerStateProbe::before_analysis(state, [gate = m_gate] { (void)gate.wait_for(std::chrono::seconds(60)); });
    }
    void release() { m_go.set_value(); }

private:
    std::promise<void> m_go;
    std::shared_future<void> m_gate = m_go.get_future().share();
};

TEST(SelectionVersion, AddPathsAnswersBeforeItsAnalysis)
{
    UploadRig rig;
    rig.service.script({{"POST /api/upload-document", {{"json", {{"short_code", "v"}}}}}});
    const auto a = rig.put("a.pdf", "a");
    const auto b = rig.put("b.pdf", "b");
    auto& server = rig.start({a});
    HeldAnalysis held(*server.state);
    EXPECT_EQ(version_reply(rig), json({{"success", true}, {"selection_version", 1}, {"selection_ready", true}}));

    EXPECT_EQ(add_paths(rig, {b}), json({{"success", true}}));
    EXPECT_EQ(version_reply(rig), json({{"success", true}, {"selection_version", 2}, {"selection_ready", false}}));
    // The state shows the last finished analysis, marked as not the stored version's.
    const json state = rig.api("GET", "/api/local/state").body;
    EXPECT_EQ(field(state, "selection_version"), 2);
    EXPECT_EQ(field(state, "selection_ready"), false);
    EXPECT_EQ(field(field(state, "target"), "display_name"), "a.pdf");
    // No job starts from the older target, whatever version the page sends.
    for (const json& body : {json::object(), json({{"selection_version", 1}}), json({{"selection_version", 2}})}) {
        SCOPED_TRACE(body.dump());
        const auto reply = rig.start_upload(body);
        EXPECT_EQ(reply.status, 400);
        EXPECT_EQ(reply.body, not_ready_reply);
    }

    held.release();
    const auto settled = server.settled_selection();
    EXPECT_EQ(settled.version, 2u);
    EXPECT_EQ(settled.target.display_name, "a 외 1개 항목");
    EXPECT_EQ(version_reply(rig), json({{"success", true}, {"selection_version", 2}, {"selection_ready", true}}));
    ASSERT_EQ(rig.start_upload({{"selection_version", 2}}).status, 200);
    EXPECT_EQ(field(field(rig.wait_for_end(), "result"), "original_name"), "a_외_1건.zip");
    EXPECT_TRUE(rig.uploads().size() == 1);
}

TEST(SelectionVersion, StartSendsOnlyTheVersionShown)
{
    struct Case {
        std::string_view name;
        bool logged_in;
        json body;
        int status;
        json reply;
    };
    const json ok = {{"success", true}};
    const Case cases[] = {
        {"an older version", true, {{"selection_version", 1}}, 400, changed_reply},
        {"a later version", true, {{"selection_version", 3}}, 400, changed_reply},
        {"a negative number", true, {{"selection_version", -2}}, 400, changed_reply},
        {"a fraction", true, {{"selection_version", 2.5}}, 400, changed_reply},
        {"the stored version", true, {{"selection_version", 2}}, 200, ok},
        {"the stored version written with a point", true, {{"selection_version", 2.0}}, 200, ok},
        {"a text is no version", true, {{"selection_version", "1"}}, 200, ok},
        {"null is no version", true, {{"selection_version", nullptr}}, 200, ok},
        {"no version", true, json::object(), 200, ok},
        {"nobody logged in comes first", false, {{"selection_version", 1}}, 401,
         {{"detail", "먼저 계정으로 로그인해 주세요."}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UploadRig rig(c.logged_in ? std::string(test_support::rig_api_key) : std::string());
        rig.service.script({{"POST /api/upload-document", {{"json", {{"short_code", "s"}}}}}});
        const auto a = rig.put("a.pdf", "a");
        const auto b = rig.put("b.pdf", "b");
        auto& server = rig.start({a});
        add_paths(rig, {b});
        ASSERT_EQ(server.settled_selection().version, 2u);
        const auto reply = rig.start_upload(c.body);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.body, c.reply);
        if (c.status == 200)
            EXPECT_EQ(field(field(rig.wait_for_end(), "result"), "original_name"), "a_외_1건.zip");
        else
            EXPECT_TRUE(rig.uploads().empty());
    }
}

// Every stored change moves the version on; a hand-off of nothing stores nothing; a pick
// answers with the analysis of the version it stored.
TEST(SelectionVersion, MovesWithEveryStoredChange)
{
    UploadRig rig;
    const auto a = rig.put("a.pdf", "a");
    const auto b = rig.put("b.pdf", "b");
    const auto dir = rig.source("dir");
    rig.put("dir/x.txt", "x");
    auto& server = rig.start({});
    const auto settled = [&](std::uint64_t version, std::vector<fs::path> paths, std::size_t scans) {
        const auto view = server.settled_selection();
        EXPECT_EQ(view.version, version);
        EXPECT_EQ(test_support::path_texts(view.paths), test_support::path_texts(paths));
        EXPECT_EQ(view.target, config::analyze_selection(paths));
        // One kept scan per selected path: a replace drops the scans of the paths it removes.
        EXPECT_EQ(ServerStateProbe::kept_scans(*server.state), scans);
    };
    settled(1, {}, 0);
    add_paths(rig, {dir});
    settled(2, {dir}, 1);
    add_paths(rig, {a, b});
    settled(3, {dir, a, b}, 3);
    add_paths(rig, {rig.source("missing.pdf")});
    settled(3, {dir, a, b}, 3);
    add_paths(rig, {b, a}, true);
    settled(4, {b, a}, 2);
#ifndef _WIN32
    test_support::StandIns stand_ins;
    stand_ins.add("powershell", "printf '%s\\n' '" + platform::path_to_utf8(dir) + "'");
    const auto picked = rig.api("POST", "/api/local/pick", "{}");
    ASSERT_EQ(picked.status, 200);
    EXPECT_EQ(field(field(picked.body, "target"), "upload_filename"), "dir.zip");
    EXPECT_EQ(version_reply(rig), json({{"success", true}, {"selection_version", 5}, {"selection_ready", true}}));
    settled(5, {dir}, 1);
#endif
}

#ifndef _WIN32

// The page polls the version twice a second: the route runs no child process (the state
// route asks `reg` whether the menu is installed) and needs the token like the others.
TEST(SelectionVersion, TheVersionRouteIsCheap)
{
    UploadRig rig;
    auto& server = rig.start({rig.put("a.pdf", "a")});
    test_support::StandIns stand_ins;
    stand_ins.add("reg", "exit 1");
    // A mark no request can store: elapsed time may still read 0 this early.
    constexpr auto unseen = std::numeric_limits<std::uint64_t>::max();
    ServerStateProbe::last_seen_ms(*server.state).store(unseen);
    EXPECT_EQ(version_reply(rig), json({{"success", true}, {"selection_version", 1}, {"selection_ready", true}}));
    EXPECT_TRUE(stand_ins.invocations().empty());
    EXPECT_NE(server.state->last_seen_ms(), unseen) << "the poll counts as activity";
    (void)rig.api("GET", "/api/local/state");
    EXPECT_EQ(stand_ins.invocations().size(), 1u) << "the stand-in sees what the state route runs";

    const auto refused = test_support::parse_api_reply(
        test::round_trip(server.port, "GET /api/local/selection-version HTTP/1.1\r\nX-Local-Token: nope\r\n\r\n"));
    EXPECT_EQ(refused.status, 403);
}

#endif

} // namespace
