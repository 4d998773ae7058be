#include "shell/app_window.h"

#include "platform/fs.h"
#include "platform/process.h"
#include "platform/unicode.h"

#include <array>
#include <chrono>
#include <string_view>
#include <thread>

namespace shell {

namespace {

constexpr std::array<std::string_view, 4> browser_candidates{
    R"(C:\Program Files (x86)\Microsoft\Edge\Application\msedge.exe)",
    R"(C:\Program Files\Microsoft\Edge\Application\msedge.exe)",
    R"(C:\Program Files\Google\Chrome\Application\chrome.exe)",
    R"(C:\Program Files (x86)\Google\Chrome\Application\chrome.exe)",
};

// Lets the server's accept loop come up first; a process started with paths has more
// to set up before the page's first request can be answered.
constexpr auto delay_with_paths = std::chrono::milliseconds(220);
constexpr auto delay_without_paths = std::chrono::milliseconds(20);

bool start_detached(std::string_view program, std::vector<std::string> args)
{
    platform::ProcessSpec spec;
    spec.program = std::string(program);
    spec.args = std::move(args);
    spec.stdin_mode = platform::StdinMode::inherit;
    spec.stdout_mode = platform::OutputMode::inherit;
    spec.stderr_mode = platform::OutputMode::inherit;
    spec.wait = platform::WaitMode::detach;
    return platform::run(spec).has_value();
}

} // namespace

void open_app_window(const std::string& url, bool started_with_paths)
{
    std::this_thread::sleep_for(started_with_paths ? delay_with_paths : delay_without_paths);
    for (const std::string_view candidate : browser_candidates) {
        if (!platform::file_meta(platform::path_from_utf8(candidate), platform::FollowLinks::yes))
            continue;
        if (start_detached(candidate, {"--app=" + url, "--window-size=490,730"}))
            return;
    }
    // The default browser; `start` takes its first quoted argument as the window title.
    (void)start_detached("cmd", {"/c", "start", "", url});
}

} // namespace shell
