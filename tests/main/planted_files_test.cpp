// Programs and DLLs planted where Windows' own searches look before the system folder: beside
// the program and in the current folder, as in a download folder that Explorer starts the
// program in. The program works as usual and none of them runs. Windows only, under wine:
// the test's environment carries WINEDLLOVERRIDES "<planted DLLs>=n,b" (CMakeLists.txt), with
// which wine prefers a DLL beside the program, as Windows does for a DLL off the KnownDLLs
// list.

#ifdef _WIN32

#include "main/active_session.h"
#include "main/single_instance.h"
#include "platform/child_process.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/http_client.h"
#include "platform/unicode.h"
#include "shell/app_window.h"
#include "shell/context_menu.h"
#include "support/scratch_dir.h"
#include "support/stand_in_service.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test_support::ScopedEnv;

constexpr auto start_timeout = 20s;

std::string u8(const fs::path& p) { return platform::path_to_utf8(p); }

// The planted DLLs' names without ".dll".
std::vector<std::string> planted_dll_names()
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(VANO_PLANTED_DIR))
        if (entry.path().extension() == ".dll")
            names.push_back(entry.path().stem().string());
    return names;
}

// The DLLs that WINEDLLOVERRIDES ("a,b=n,b;c=") has wine look for as native ones first.
std::vector<std::string> native_first_dlls(std::string_view overrides)
{
    std::vector<std::string> names;
    while (!overrides.empty()) {
        const auto end = std::min(overrides.find(';'), overrides.size());
        const std::string_view entry = overrides.substr(0, end);
        overrides.remove_prefix(std::min(end + 1, overrides.size()));
        const auto eq = entry.find('=');
        if (eq == std::string_view::npos || !entry.substr(eq + 1).starts_with('n'))
            continue;
        std::string_view list = entry.substr(0, eq);
        while (!list.empty()) {
            const auto comma = std::min(list.find(','), list.size());
            names.emplace_back(list.substr(0, comma));
            list.remove_prefix(std::min(comma + 1, list.size()));
        }
    }
    return names;
}

std::vector<std::string> lines_of(const fs::path& file)
{
    std::vector<std::string> out;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::optional<nlohmann::json> call_api(std::uint16_t port, const std::string& token, const std::string& method,
                                       const std::string& route, const std::string& body = "{}")
{
    platform::HttpRequest request;
    request.method = method;
    request.url = "http://127.0.0.1:" + std::to_string(port) + route;
    request.headers = {{"X-Local-Token", token}, {"Content-Type", "application/json"}};
    if (method == "POST")
        request.body = body;
    request.max_body_bytes = 1 << 20;
    auto reply = platform::HttpClient(platform::HttpTimeouts{20s, 30s, 30s}).send(std::move(request));
    if (!reply || reply->status != 200)
        return std::nullopt;
    return nlohmann::json::parse(reply->body, nullptr, false);
}

// The status of a local API call, 0 when there was no reply.
int api_status(std::uint16_t port, const std::string& token, const std::string& route, const std::string& body)
{
    platform::HttpRequest request;
    request.method = "POST";
    request.url = "http://127.0.0.1:" + std::to_string(port) + route;
    request.headers = {{"X-Local-Token", token}, {"Content-Type", "application/json"}};
    request.body = body;
    request.max_body_bytes = 1 << 20;
    auto reply = platform::HttpClient(platform::HttpTimeouts{20s, 30s, 30s}).send(std::move(request));
    return reply ? reply->status : 0;
}

class PlantedFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_app);
        fs::create_directories(m_work);
        fs::create_directories(m_dir / "files");
        std::ofstream(m_dir / "files" / "a.txt") << "a";
        fs::copy_file(VANO_EXE_PATH, m_app / "vano-duvid.exe");
        for (const auto& entry : fs::directory_iterator(VANO_PLANTED_DIR)) {
            if (!entry.is_regular_file())
                continue;
            fs::copy_file(entry.path(), m_app / entry.path().filename());
            fs::copy_file(entry.path(), m_work / entry.path().filename());
        }
        m_old_cwd = fs::current_path();
        fs::current_path(m_work); // inherited by every child
    }
    void TearDown() override { fs::current_path(m_old_cwd); }

    platform::ChildProcess start(const std::vector<std::string>& args) const
    {
        auto child = platform::ChildProcess::start(m_app / "vano-duvid.exe", args);
        EXPECT_TRUE(child) << (child ? "" : child.error());
        return child ? std::move(*child) : platform::ChildProcess{};
    }

    // What the planted files left: each planted program's log lines and each loaded DLL's
    // marker, with the folder they lie in.
    std::vector<std::string> traces() const
    {
        std::vector<std::string> out;
        const std::pair<const char*, fs::path> folders[] = {{"beside the program: ", m_app},
                                                             {"current folder: ", m_work}};
        for (const auto& [where, dir] : folders) {
            for (const auto& line : lines_of(dir / "planted.log"))
                out.push_back(where + line);
            for (const auto& entry : fs::directory_iterator(dir))
                if (entry.path().extension() == ".loaded")
                    out.push_back(where + entry.path().filename().string());
        }
        return out;
    }

    static std::optional<app::ActiveSession> wait_for_session()
    {
        const auto deadline = std::chrono::steady_clock::now() + start_timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto s = app::read_active_session())
                return s;
            std::this_thread::sleep_for(10ms);
        }
        return std::nullopt;
    }

    test_support::ScratchDir m_dir;
    const fs::path m_app = m_dir / "download";
    const fs::path m_work = m_dir / "work";
    ScopedEnv m_appdata{"APPDATA", u8(m_dir / "appdata")};
    ScopedEnv m_local{"LOCALAPPDATA", u8(m_dir / "local")};

private:
    fs::path m_old_cwd;
};

TEST_F(PlantedFiles, NoneRunsWhileTheProgramInstallsStartsHandsOffAndServes)
{
    // Without the overrides wine would never look beside the program, and the DLLs would
    // prove nothing.
    const std::string overrides = platform::env_var("WINEDLLOVERRIDES").value_or("");
    const auto native_first = native_first_dlls(overrides);
    ASSERT_FALSE(planted_dll_names().empty());
    for (const auto& name : planted_dll_names())
        ASSERT_NE(std::find(native_first.begin(), native_first.end(), name), native_first.end())
            << name << " is missing from WINEDLLOVERRIDES " << overrides;

    // Registration: reg and, for the SendTo shortcut, powershell.
    auto install = start({"--install"});
    EXPECT_EQ(install.wait_for(start_timeout), 0) << install.take_stderr();
    EXPECT_TRUE(install.take_stdout().starts_with("Windows 탐색기"));
    // The round trip through the real registry: our own reg query sees the child's keys.
    EXPECT_TRUE(shell::is_context_menu_installed());

    // A normal start: reg at start, reg on each state request, the window through cmd.
    auto instance = start({});
    const auto session = wait_for_session();
    ASSERT_TRUE(session) << instance.take_stderr();
    const auto state = call_api(session->port, session->token, "GET", "/api/local/state");
    ASSERT_TRUE(state);
    EXPECT_EQ((*state)["context_menu_installed"], true);

    // The hand-off is the newcomer's WinHTTP request. The first reg runs of a new wine
    // prefix can take longer than an announcement stays fresh; one dated ahead always is.
    auto fresh = *session;
    fresh.created_epoch_ms = app::now_epoch_ms() + 600'000;
    ASSERT_TRUE(platform::write_file(app::active_session_path(), app::serialize_active_session(fresh)));
    const std::string file = u8(m_dir / "files" / "a.txt");
    auto newcomer = start({file});
    EXPECT_EQ(newcomer.wait_for(start_timeout), 0) << newcomer.take_stderr();
    // The hand-off is analysed after its answer.
    auto after = call_api(session->port, session->token, "GET", "/api/local/state");
    for (int i = 0; i < 3000 && after && !after->value("selection_ready", true); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        after = call_api(session->port, session->token, "GET", "/api/local/state");
    }
    ASSERT_TRUE(after);
    EXPECT_EQ((*after)["target"]["paths"], nlohmann::json::array({file}));
    ASSERT_TRUE(call_api(session->port, session->token, "POST", "/api/local/quit"));
    EXPECT_EQ(instance.wait_for(start_timeout), 0);

    // The mode in which a host shows the page.
    auto hosted = start({"--stdio-port"});
    const auto line = hosted.read_stdout_line(start_timeout);
    ASSERT_TRUE(line) << line.error() << " exit " << hosted.wait_for(0ms).value_or(-1) << " " << hosted.take_stderr();
    std::smatch m;
    ASSERT_TRUE(
        std::regex_match(*line, m, std::regex(R"(VANO_READY http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{32})\n)")));
    const auto port = static_cast<std::uint16_t>(std::stoi(m[1].str()));
    EXPECT_TRUE(call_api(port, m[2].str(), "GET", "/api/local/state"));
    ASSERT_TRUE(call_api(port, m[2].str(), "POST", "/api/local/quit"));
    EXPECT_EQ(hosted.wait_for(start_timeout), 0);

    EXPECT_EQ(traces(), std::vector<std::string>{});
}

// WinHTTP loads what it needs for certificates, proxies, name look-ups and TLS only at the
// first service call: login, upload and clipboard copy over HTTP, and a login over HTTPS.
TEST_F(PlantedFiles, NoneRunsWhileTheProgramTalksToTheService)
{
    using Scheme = test_support::StandInService::Scheme;
    struct Case {
        std::string_view name;
        Scheme scheme;
        bool uploads; // the self-signed service's certificate fails the login
    };
    const Case cases[] = {
        {"http: login, upload, copy", Scheme::http, true},
        {"https: login", Scheme::https_self_signed, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::StandInService service(c.scheme);
        const nlohmann::json saved = {{"server_url", service.url()}, {"api_key", ""}, {"username", ""},
                                      {"org_name", ""},              {"admin_name", ""}, {"role", ""}};
        fs::create_directories(m_dir / "appdata" / "VANOQuillet");
        std::ofstream(m_dir / "appdata" / "VANOQuillet" / "desktop_config.json", std::ios::binary) << saved.dump();

        auto hosted = start({"--stdio-port", u8(m_dir / "files" / "a.txt")});
        const auto line = hosted.read_stdout_line(start_timeout);
        ASSERT_TRUE(line) << line.error() << " exit " << hosted.wait_for(0ms).value_or(-1);
        std::smatch m;
        ASSERT_TRUE(
            std::regex_match(*line, m, std::regex(R"(VANO_READY http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{32})\n)")));
        const auto port = static_cast<std::uint16_t>(std::stoi(m[1].str()));
        const std::string token = m[2].str();

        const int login = api_status(port, token, "/api/local/login", R"({"username":"demo","password":"demo1234"})");
        EXPECT_EQ(login, c.uploads ? 200 : 401);
        if (c.uploads) {
            EXPECT_EQ(api_status(port, token, "/api/local/start-upload", "{}"), 200);
            std::string phase;
            const auto deadline = std::chrono::steady_clock::now() + 60s;
            while (phase != "done" && phase != "error" && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(20ms);
                const auto state = call_api(port, token, "GET", "/api/local/state");
                phase = state ? (*state)["job"].value("phase", "") : "no reply";
            }
            EXPECT_EQ(phase, "done");
            // The copy goes through the system's PowerShell, whatever it answers.
            (void)api_status(port, token, "/api/local/copy", "{}");
        }
        EXPECT_TRUE(call_api(port, token, "POST", "/api/local/quit"));
        EXPECT_EQ(hosted.wait_for(start_timeout), 0);
        EXPECT_EQ(traces(), std::vector<std::string>{});
    }
}

TEST_F(PlantedFiles, WindowFallbackStartsTheSystemCmd)
{
    // The real cmd's `start` runs what it is given: here a copy of a planted program in a
    // folder of its own, whose log shows that the system cmd ran. A planted cmd would log
    // in the current folder instead and never start it.
    const fs::path proof_dir = m_dir / "proof";
    fs::create_directories(proof_dir);
    fs::copy_file(fs::path(VANO_PLANTED_DIR) / "reg.exe", proof_dir / "proof.exe");
    shell::open_app_window(u8(proof_dir / "proof.exe"), false);

    std::vector<std::string> proof;
    const auto deadline = std::chrono::steady_clock::now() + start_timeout;
    while ((proof = lines_of(proof_dir / "planted.log")).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(traces(), std::vector<std::string>{});
    ASSERT_EQ(proof.size(), 1u) << "the system cmd did not start the program";
    EXPECT_TRUE(proof[0].starts_with("proof.exe ")) << proof[0];
}

} // namespace

#endif
