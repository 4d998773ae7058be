// Start-up figures of the program: time from process start to the "VANO_READY " line in
// stdio-port mode, and the whole life of a second launch that hands its paths to a
// running instance. Medians of 20 runs, against a configuration folder of its own.
//
//   bench_startup PATH/TO/vano-duvid

#include "main/single_instance.h"
#include "platform/child_process.h"
#include "platform/env.h"
#include "platform/http_client.h"
#include "platform/unicode.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int runs = 20;

double median_ms(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool quit(std::uint16_t port, const std::string& token)
{
    platform::HttpRequest request;
    request.method = "POST";
    request.url = "http://127.0.0.1:" + std::to_string(port) + "/api/local/quit";
    request.headers = {{"X-Local-Token", token}, {"Content-Type", "application/json"}};
    request.body = std::string("{}");
    auto reply = platform::HttpClient(platform::HttpTimeouts{5s, 5s, 5s}).send(std::move(request));
    return reply && reply->status == 200;
}

int fail(const std::string& what)
{
    std::fprintf(stderr, "bench_startup: %s\n", what.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return fail("usage: bench_startup PATH/TO/vano-duvid");
    // A full path: the Windows build starts no program by a relative name.
    const std::filesystem::path exe = std::filesystem::absolute(argv[1]);
    const auto root = platform::temp_dir() / ("vano-bench-" + std::to_string(Clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(root);
    platform::set_env_var("APPDATA", platform::path_to_utf8(root / "appdata"));
    platform::set_env_var("HOME", platform::path_to_utf8(root / "home"));
    // Windows only: the menu registration copies the program into LOCALAPPDATA.
    if (platform::env_var("LOCALAPPDATA"))
        platform::set_env_var("LOCALAPPDATA", platform::path_to_utf8(root / "local"));
    const auto file = root / "shared.txt";
    std::ofstream(file) << "x";

    std::vector<double> ready;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        auto child = platform::ChildProcess::start(exe, {"--stdio-port", platform::path_to_utf8(file)});
        if (!child)
            return fail(child.error());
        const auto line = child->read_stdout_line(20s);
        const auto t1 = Clock::now();
        if (!line)
            return fail(line.error());
        ready.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        const auto url = line->substr(line->find("http://"));
        const auto port = static_cast<std::uint16_t>(std::stoi(url.substr(17)));
        const auto token = url.substr(url.find("token=") + 6, 32);
        if (!quit(port, token) || !child->wait_for(10s))
            return fail("stdio-port instance did not quit");
    }

    // A fresh instance for every run: a newcomer hands over only to an announcement at
    // most 3.5 s old, which a slow series of runs would outlive.
    std::vector<double> handoff;
    for (int i = 0; i < runs; ++i) {
        auto instance = platform::ChildProcess::start(exe, {});
        if (!instance)
            return fail(instance.error());
        std::optional<app::ActiveSession> session;
        for (int tries = 0; tries < 4000 && !session; ++tries) {
            session = app::read_active_session();
            std::this_thread::sleep_for(5ms);
        }
        if (!session)
            return fail("no instance announced itself");
        const auto t0 = Clock::now();
        auto child = platform::ChildProcess::start(exe, {platform::path_to_utf8(file)});
        if (!child)
            return fail(child.error());
        const auto code = child->wait_for(20s);
        const auto t1 = Clock::now();
        if (code != 0)
            return fail("hand-off launch did not end with 0");
        handoff.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        if (!quit(session->port, session->token) || !instance->wait_for(10s))
            return fail("instance did not quit");
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);

    std::printf("ready line (stdio-port), median of %d: %.2f ms (min %.2f, max %.2f)\n", runs, median_ms(ready),
                *std::min_element(ready.begin(), ready.end()), *std::max_element(ready.begin(), ready.end()));
    std::printf("hand-off launch, start to exit, median of %d: %.2f ms (min %.2f, max %.2f)\n", runs,
                median_ms(handoff), *std::min_element(handoff.begin(), handoff.end()),
                *std::max_element(handoff.begin(), handoff.end()));
    return 0;
}
