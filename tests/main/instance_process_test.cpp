// The program as whole processes, run against configuration folders of the test's own.

#include "main/run_main.h"
#include "main/single_instance.h"
#include "platform/child_process.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/http_client.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "platform/unicode.h"
#include "shell/stand_ins.h"
#include "support/json_field.h"
#include "support/scratch_dir.h"
#include "support/upload_rig.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using test_support::field;

constexpr auto start_timeout = 20s;

std::optional<nlohmann::json> call_api(std::uint16_t port, const std::string& token, const std::string& method,
                                       const std::string& route)
{
    platform::HttpRequest request;
    request.method = method;
    request.url = "http://127.0.0.1:" + std::to_string(port) + route;
    request.headers = {{"X-Local-Token", token}, {"Content-Type", "application/json"}};
    if (method == "POST")
        request.body = std::string("{}");
    request.max_body_bytes = 1 << 20;
    const platform::HttpClient client(platform::HttpTimeouts{20s, 30s, 30s});
    auto reply = client.send(std::move(request));
    if (!reply || reply->status != 200)
        return std::nullopt;
    return nlohmann::json::parse(reply->body, nullptr, false);
}

// The state once the latest stored selection has been analysed (hand-offs are answered
// before their analysis); without the flag, the state as it is.
std::optional<nlohmann::json> settled_state(const app::ActiveSession& session)
{
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    for (;;) {
        auto state = call_api(session.port, session.token, "GET", "/api/local/state");
        if (!state || state->value("selection_ready", true) || std::chrono::steady_clock::now() > deadline)
            return state;
        std::this_thread::sleep_for(20ms);
    }
}

std::vector<std::string> selected_paths(const app::ActiveSession& session)
{
    const auto state = settled_state(session);
    std::vector<std::string> out;
    if (state && state->contains("target"))
        for (const auto& p : field(field(*state, "target"), "paths"))
            out.push_back(p.get<std::string>());
    return out;
}

bool quit(const app::ActiveSession& session)
{
    return call_api(session.port, session.token, "POST", "/api/local/quit").has_value();
}

// What a child that should still run has done, for a failure message.
std::string describe(platform::ChildProcess& child)
{
    const auto code = child.wait_for(0ms);
    return (code ? "it ended with " + std::to_string(*code) : std::string("it runs")) + ", stdout \"" +
           child.take_stdout() + "\", stderr \"" + child.take_stderr() + "\"";
}

// The port and token of a stdio-port child's one ready line; the line itself, or the
// failure, as the error.
core::Result<app::ActiveSession> read_ready_line(platform::ChildProcess& child)
{
    const auto line = child.read_stdout_line(start_timeout);
    if (!line)
        return core::fail(line.error() + child.take_stderr());
    std::smatch m;
    if (!std::regex_match(*line, m, std::regex(R"(VANO_READY http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{32})\n)")))
        return core::fail(*line);
    return app::ActiveSession{static_cast<std::uint16_t>(std::stoi(m[1].str())), m[2].str(), 0};
}

class InstanceProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir / "files");
        for (const char* name : {"a.txt", "b.txt"})
            std::ofstream(m_dir / "files" / name) << name;
        // Windows only: keep the menu registration's copy of the program out of the real
        // profile. Elsewhere the variable stays absent and the registration fails early.
        if (platform::env_var("LOCALAPPDATA"))
            m_local.emplace("LOCALAPPDATA", platform::path_to_utf8(m_dir / "local"));
    }

    std::string file(const char* name) const { return platform::path_to_utf8(m_dir / "files" / name); }

    static platform::ChildProcess start(const std::vector<std::string>& args)
    {
        auto child = platform::ChildProcess::start(VANO_EXE_PATH, args);
        EXPECT_TRUE(child) << (child ? "" : child.error());
        return child ? std::move(*child) : platform::ChildProcess{};
    }

    // The announcement once one with a token other than `previous` is on disk and its
    // publisher has released the claim (a newcomer started in between would find the
    // claim held and hand its paths over instead).
    static std::optional<app::ActiveSession> wait_for_session(const std::string& previous = {})
    {
        const auto deadline = std::chrono::steady_clock::now() + start_timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto s = app::read_active_session();
                s && s->token != previous && !std::filesystem::exists(app::session_claim_path()))
                return s;
            std::this_thread::sleep_for(10ms);
        }
        return std::nullopt;
    }

    test_support::ScratchDir m_dir;
    test_support::ScopedEnv m_appdata{"APPDATA", platform::path_to_utf8(m_dir / "appdata")};
    test_support::ScopedEnv m_home{"HOME", platform::path_to_utf8(m_dir / "home")};
    std::optional<test_support::ScopedEnv> m_local;
};

TEST_F(InstanceProcess, StdioPortModePrintsOneReadyLineAndServesUntilQuit)
{
    auto child = start({file("a.txt"), "--stdio-port"});
    const auto ready = read_ready_line(child);
    ASSERT_TRUE(ready) << ready.error();
    const app::ActiveSession& session = *ready;
    EXPECT_EQ(selected_paths(session), std::vector<std::string>{file("a.txt")});
    EXPECT_FALSE(std::filesystem::exists(app::active_session_path()));
    EXPECT_FALSE(std::filesystem::exists(app::session_claim_path()));
    ASSERT_TRUE(quit(session));
    EXPECT_EQ(child.wait_for(start_timeout), 0);
    EXPECT_EQ(child.take_stdout(), "");
    EXPECT_EQ(child.take_stderr(), "");
}

TEST_F(InstanceProcess, TwoProcessesStartedTogetherEndAsOneInstanceWithBothSets)
{
    // Registered entries, as an installed program has them: the claimant then publishes
    // well within the newcomer's waiting rounds even where each registry command is slow.
    // Where there is no registry the switch fails at once, which is fine here.
    auto install = start({"--install"});
    (void)install.wait_for(start_timeout);

    // The waiting side gives up after the protocol's fixed rounds (under a second), and then
    // serves on its own, as designed: on a loaded machine a claimant that is slower than
    // that to announce itself leaves two instances. Such a try is ended and the race run
    // again; a fault that keeps the two from joining fails every try.
    constexpr int tries = 5;
    platform::ChildProcess first, second;
    std::optional<int> first_code, second_code;
    std::vector<std::string> missed;
    for (int attempt = 0; attempt < tries && !first_code && !second_code; ++attempt) {
        if (attempt > 0) {
            first.kill();
            second.kill();
            std::filesystem::remove(app::active_session_path());
            std::filesystem::remove(app::session_claim_path());
        }
        first = start({file("a.txt")});
        second = start({file("b.txt")});
        // One of them hands its paths over and ends; which one depends on who claims first.
        const auto deadline = std::chrono::steady_clock::now() + start_timeout;
        while (!first_code && !second_code && std::chrono::steady_clock::now() < deadline) {
            first_code = first.wait_for(5ms);
            second_code = second.wait_for(5ms);
        }
        if (!first_code && !second_code)
            missed.push_back("first: " + describe(first) + "; second: " + describe(second));
    }
    ASSERT_NE(first_code.has_value(), second_code.has_value())
        << "no try ended as one instance: " << nlohmann::json(missed).dump();
    EXPECT_EQ(first_code ? *first_code : *second_code, 0);
    const auto session = wait_for_session();
    ASSERT_TRUE(session);
    auto paths = selected_paths(*session);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{file("a.txt"), file("b.txt")}));
    EXPECT_FALSE(std::filesystem::exists(app::session_claim_path()));
    ASSERT_TRUE(quit(*session));
    auto& running = first_code ? second : first;
    EXPECT_EQ(running.wait_for(start_timeout), 0);
    EXPECT_FALSE(std::filesystem::exists(app::active_session_path()));
}

// Processes started together, one per argument list, as Explorer starts one per selected
// item.
struct Burst {
    std::vector<platform::ChildProcess> children;
    std::vector<std::optional<int>> codes; // each child's exit code, once it has ended
    std::size_t running() const { return static_cast<std::size_t>(std::count(codes.begin(), codes.end(), std::nullopt)); }
};

// Starts them all at once, then waits until at most one still runs (or `limit` passes).
Burst start_together(const std::vector<std::vector<std::string>>& arg_lists, std::chrono::seconds limit)
{
    Burst burst;
    for (const auto& args : arg_lists) {
        auto child = platform::ChildProcess::start(VANO_EXE_PATH, args);
        EXPECT_TRUE(child) << (child ? "" : child.error());
        burst.children.push_back(child ? std::move(*child) : platform::ChildProcess{});
        burst.codes.emplace_back();
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (burst.running() > 1 && std::chrono::steady_clock::now() < deadline)
        for (std::size_t i = 0; i < burst.children.size(); ++i)
            if (!burst.codes[i])
                burst.codes[i] = burst.children[i].wait_for(5ms);
    return burst;
}

// Every process but one handed its paths over and ended with 0; the one left serves.
void expect_one_instance(Burst& burst)
{
    ASSERT_EQ(burst.running(), 1u) << "processes still running: " << burst.running();
    for (std::size_t i = 0; i < burst.codes.size(); ++i) {
        if (burst.codes[i]) {
            EXPECT_EQ(*burst.codes[i], 0) << "process " << i << ": " << describe(burst.children[i]);
        }
    }
}

// After a quit, the processes still running end with 0.
void expect_the_rest_end(Burst& burst)
{
    for (std::size_t i = 0; i < burst.codes.size(); ++i) {
        if (!burst.codes[i]) {
            EXPECT_EQ(burst.children[i].wait_for(start_timeout), 0);
        }
    }
}

TEST_F(InstanceProcess, FourProcessesOnAFreshProfileEndAsOneInstance)
{
    // The first start registers the Explorer entries: made slow here, it must not keep the
    // newcomers from finding the instance.
#ifdef _WIN32
    // Wine's reg and powershell run: with the entries removed the claimant adds them again.
    auto uninstall = start({"--uninstall"});
    ASSERT_EQ(uninstall.wait_for(start_timeout), 0);
#else
    test_support::StandIns stand_ins;
    stand_ins.add("reg", "sleep 0.3\n[ \"$1\" = query ] && exit 1\nexit 0");
    stand_ins.add("powershell", "sleep 0.3\nexit 0");
#endif
    for (const char* name : {"c.txt", "d.txt"})
        std::ofstream(m_dir / "files" / name) << name;
    std::vector<std::string> all = {file("a.txt"), file("b.txt"), file("c.txt"), file("d.txt")};
    std::vector<std::vector<std::string>> arg_lists;
    for (const auto& f : all)
        arg_lists.push_back({f});

    auto burst = start_together(arg_lists, start_timeout);
    ASSERT_NO_FATAL_FAILURE(expect_one_instance(burst));
    const auto session = wait_for_session();
    ASSERT_TRUE(session);
    auto paths = selected_paths(*session);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, all);
    ASSERT_TRUE(quit(*session));
    expect_the_rest_end(burst);
}

TEST_F(InstanceProcess, TwentyProcessesOfAMultiSelectEndAsOneInstance)
{
    // Two folders of 2000 files and 18 files, after a first run registered the menu.
    auto install = start({"--install"});
    (void)install.wait_for(start_timeout);
    std::vector<std::vector<std::string>> arg_lists;
    for (const char* folder : {"big1", "big2"}) {
        const auto dir = m_dir / folder;
        std::filesystem::create_directories(dir);
        for (int i = 0; i < 2000; ++i)
            std::ofstream(dir / ("f" + std::to_string(i) + ".txt")) << i;
        arg_lists.push_back({platform::path_to_utf8(dir)});
    }
    for (int i = 0; i < 18; ++i) {
        const auto one = m_dir / "files" / ("single" + std::to_string(i) + ".txt");
        std::ofstream(one) << i;
        arg_lists.push_back({platform::path_to_utf8(one)});
    }

    // Well below the minute after which an instance that no page visits ends by itself: a
    // process that became an instance of its own must still be running then.
    auto burst = start_together(arg_lists, 45s);
    ASSERT_NO_FATAL_FAILURE(expect_one_instance(burst));
    const auto session = wait_for_session();
    ASSERT_TRUE(session);
    const auto state = settled_state(*session);
    ASSERT_TRUE(state);
    const auto target = field(*state, "target");
    EXPECT_EQ(field(target, "item_count"), 20);
    EXPECT_EQ(field(target, "file_count"), 4018);
    ASSERT_TRUE(quit(*session));
    expect_the_rest_end(burst);
}

TEST_F(InstanceProcess, ANewcomerStartedRightAfterQuitWasAnsweredBecomesTheInstance)
{
    auto quitting = start({file("a.txt")});
    const auto session = wait_for_session();
    ASSERT_TRUE(session);
    ASSERT_TRUE(quit(*session));
    // Withdrawn before the answer, and no hand-off taken any more.
    EXPECT_FALSE(std::filesystem::exists(app::active_session_path()));
    EXPECT_FALSE(app::notify_running_instance(*session, {platform::path_from_utf8(file("b.txt"))}));

    auto newcomer = start({file("b.txt")});
    const auto own = wait_for_session(session->token);
    ASSERT_TRUE(own) << describe(newcomer);
    EXPECT_EQ(selected_paths(*own), std::vector<std::string>{file("b.txt")});
    ASSERT_TRUE(quit(*own));
    EXPECT_EQ(newcomer.wait_for(start_timeout), 0);
    EXPECT_EQ(quitting.wait_for(start_timeout), 0);
}

TEST_F(InstanceProcess, LaunchWhileAFreshInstanceRuns)
{
    // Each folder holds its own report.pdf: the instance runs in one, newcomers may be
    // started in the other.
    for (const char* folder : {"A", "B"}) {
        std::filesystem::create_directories(m_dir / folder);
        std::ofstream(m_dir / folder / "report.pdf") << folder;
    }
    const std::string report_in_b = platform::path_to_utf8(m_dir / "B" / "report.pdf");
    std::optional<test_support::ScopedCurrentDir> cwd;
    cwd.emplace(m_dir / "A");
    auto instance = start({});
    const auto session = wait_for_session();
    ASSERT_TRUE(session);
    EXPECT_EQ(selected_paths(*session), std::vector<std::string>{});

    // The announcement made fresh for however long the newcomer takes to start on a busy
    // machine: one dated later than now always counts as fresh.
    auto fresh = *session;
    fresh.created_epoch_ms = app::now_epoch_ms() + 600'000;

    struct Case {
        std::string_view name;
        const char* folder; // the newcomer's current folder
        std::vector<std::string> args;
        bool handed_off;
        std::vector<std::string> selected; // the instance's selection afterwards
    };
    const Case cases[] = {
        {"paths are handed over silently", "A", {file("b.txt"), file("a.txt")}, true, {file("b.txt"), file("a.txt")}},
        {"a relative path names the file in the newcomer's folder", "B", {"report.pdf"}, true,
         {file("b.txt"), file("a.txt"), report_in_b}},
        {"no paths: an instance of its own", "A", {}, false, {file("b.txt"), file("a.txt"), report_in_b}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(platform::write_file(app::active_session_path(), app::serialize_active_session(fresh)));
        cwd.reset();
        cwd.emplace(m_dir / c.folder);
        auto newcomer = start(c.args);
        if (c.handed_off) {
            EXPECT_EQ(newcomer.wait_for(start_timeout), 0);
            EXPECT_EQ(newcomer.take_stdout(), "");
            EXPECT_EQ(newcomer.take_stderr(), "");
            EXPECT_EQ(app::read_active_session(), fresh); // the newcomer announced nothing
        } else {
            const auto own = wait_for_session(fresh.token);
            ASSERT_TRUE(own) << describe(newcomer);
            EXPECT_FALSE(newcomer.wait_for(0ms).has_value()) << describe(newcomer);
            EXPECT_NE(own->port, session->port);
            EXPECT_EQ(selected_paths(*own), std::vector<std::string>{});
            ASSERT_TRUE(quit(*own));
            EXPECT_EQ(newcomer.wait_for(start_timeout), 0);
        }
        EXPECT_EQ(selected_paths(*session), c.selected);
    }

    ASSERT_TRUE(quit(*session));
    EXPECT_EQ(instance.wait_for(start_timeout), 0);
    EXPECT_EQ(instance.take_stdout(), "");
    EXPECT_FALSE(std::filesystem::exists(app::active_session_path()));
}

TEST_F(InstanceProcess, StaleAnnouncementIsPassedOverAndEachInstanceRetiresOnlyItsOwn)
{
    auto older = start({});
    const auto old_session = wait_for_session();
    ASSERT_TRUE(old_session);
    // Age the announcement past freshness; the instance behind it still answers.
    auto aged = *old_session;
    aged.created_epoch_ms = app::now_epoch_ms() - 10'000;
    ASSERT_TRUE(platform::write_file(app::active_session_path(), app::serialize_active_session(aged)));

    auto newer = start({file("a.txt")});
    const auto new_session = wait_for_session(old_session->token);
    ASSERT_TRUE(new_session) << "the newcomer should have become an instance of its own; "
                             << describe(newer) << "; the older one holds "
                             << nlohmann::json(selected_paths(*old_session)).dump();
    EXPECT_FALSE(newer.wait_for(0ms).has_value());
    EXPECT_EQ(selected_paths(*new_session), std::vector<std::string>{file("a.txt")});
    EXPECT_EQ(selected_paths(*old_session), std::vector<std::string>{});

    // The older instance ends while the file announces the newer one: the file stays.
    ASSERT_TRUE(quit(*old_session));
    EXPECT_EQ(older.wait_for(start_timeout), 0);
    EXPECT_EQ(app::read_active_session(), new_session);
    ASSERT_TRUE(quit(*new_session));
    EXPECT_EQ(newer.wait_for(start_timeout), 0);
    EXPECT_FALSE(std::filesystem::exists(app::active_session_path()));
}

#ifndef _WIN32
// Windows hands a child only the handles listed for it; a POSIX child gets every
// descriptor that is not closed on exec.
TEST_F(InstanceProcess, AChildThatOutlivesTheInstanceDoesNotKeepItsPort)
{
    test_support::StandIns stand_ins;
    // The menu query of the state route runs reg, which leaves a process behind.
    const std::string pids = stand_ins.file("sleepers").string();
    stand_ins.add("reg", "sleep 60 </dev/null >/dev/null 2>&1 &\necho $! >> '" + pids + "'\nexit 1");
    auto child = start({"--stdio-port"});
    const auto line = child.read_stdout_line(start_timeout);
    ASSERT_TRUE(line) << line.error() << child.take_stderr();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(*line, m, std::regex(R"(VANO_READY http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{32})\n)")));
    const app::ActiveSession session{static_cast<std::uint16_t>(std::stoi(m[1].str())), m[2].str(), 0};
    const auto before = test_support::read_bytes(pids);
    ASSERT_TRUE(call_api(session.port, session.token, "GET", "/api/local/state"));
    EXPECT_NE(test_support::read_bytes(pids), before) << "no reg ran while the instance listened";
    ASSERT_TRUE(quit(session));
    EXPECT_EQ(child.wait_for(start_timeout), 0);

    EXPECT_FALSE(platform::connect_loopback(session.port, 2s)) << "the port is still listening";
    platform::ProcessSpec kill;
    kill.program = "sh";
    kill.args = {"-c", "kill $(cat '" + pids + "')"};
    (void)platform::run(kill);
}
#endif

core::Result<server::LocalListener> failing_listener() { return core::fail("bind refused for the test"); }

TEST_F(InstanceProcess, ListenerFailureInNormalModeRemovesTheClaimAndExitsWithOne)
{
    struct Case {
        std::string_view name;
        bool claim_held_by_other;
    };
    const Case cases[] = {{"claimed here", false}, {"claim held elsewhere", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.claim_held_by_other) {
            std::filesystem::create_directories(app::session_claim_path().parent_path());
            std::ofstream(app::session_claim_path()) << "1\n";
        }
        EXPECT_EQ(app::run_main({}, failing_listener), 1);
        EXPECT_FALSE(std::filesystem::exists(app::session_claim_path()));
        EXPECT_FALSE(std::filesystem::exists(app::active_session_path()));
    }
}

// The page quits while the job uploads its archive: the job thread ends with the process,
// and its temporary archive must not stay behind.
TEST_F(InstanceProcess, QuitWhileUploadingLeavesNoTemporaryArchive)
{
    test_support::UploadRig rig; // its own configuration, logged in, and temporary folder
    // The service holds the reply, so the job is uploading its archive when the page quits.
    rig.service.script({{"POST /api/upload-document", {{"hold_until_file", "go"}, {"json", {{"short_code", "q"}}}}}});
    rig.put("folder/a.txt", "a");
    rig.put("folder/b.txt", "b");

    auto child = start({platform::path_to_utf8(rig.source("folder")), "--stdio-port"});
    const auto ready = read_ready_line(child);
    ASSERT_TRUE(ready) << ready.error();
    const app::ActiveSession& session = *ready;

    ASSERT_TRUE(call_api(session.port, session.token, "POST", "/api/local/start-upload"));
    const auto deadline = std::chrono::steady_clock::now() + start_timeout;
    std::string phase;
    while (phase != "uploading" && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        const auto state = call_api(session.port, session.token, "GET", "/api/local/state");
        phase = state ? (*state)["job"].value("phase", "") : "";
    }
    ASSERT_EQ(phase, "uploading") << describe(child);
    ASSERT_EQ(rig.leftover_archives().size(), 1u) << "the archive exists while it is uploaded";

    ASSERT_TRUE(quit(session));
    EXPECT_EQ(child.wait_for(start_timeout), 0);
    EXPECT_EQ(rig.leftover_archives(), std::vector<std::string>{});
    rig.service.release("go");
}

} // namespace
