// Upload throughput against a sink that only counts bytes.
//
//   bench_upload sink                 serves on a free loopback port, prints "port <n>",
//                                     then one line "<bytes> <seconds>" per request body
//   bench_upload upload <url> <file>  runs the upload job on <file> against <url> and
//                                     prints "<bytes> <seconds> <phase>"
#include "config/desktop_config.h"
#include "support/state_probe.h"
#include "config/selection.h"
#include "platform/socket.h"
#include "server/server_state.h"
#include "uploader/upload_job.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t sink_buffer_bytes = 1 << 20;
constexpr std::size_t head_limit_bytes = 64 * 1024;

std::uint64_t header_number(const std::string& head, std::string_view name)
{
    std::string lower = head;
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto at = lower.find(std::string("\r\n") + std::string(name) + ":");
    return at == std::string::npos ? 0 : std::strtoull(lower.c_str() + at + name.size() + 3, nullptr, 10);
}

void count_one(platform::Socket conn)
{
    const auto started = std::chrono::steady_clock::now();
    std::vector<char> buf(sink_buffer_bytes);
    std::string head;
    std::size_t end = std::string::npos;
    while ((end = head.find("\r\n\r\n")) == std::string::npos && head.size() < head_limit_bytes) {
        auto n = conn.recv_some(buf.data(), 4096);
        if (!n || *n == 0)
            return;
        head.append(buf.data(), *n);
    }
    if (end == std::string::npos)
        return;
    std::uint64_t left = header_number(head, "content-length");
    const std::uint64_t total = left;
    const std::uint64_t early = head.size() - (end + 4);
    left -= std::min(left, early);
    if (head.find("100-continue") != std::string::npos)
        (void)conn.send_all("HTTP/1.1 100 Continue\r\n\r\n");
    while (left > 0) {
        auto n = conn.recv_some(buf.data(), buf.size());
        if (!n || *n == 0)
            break;
        left -= std::min<std::uint64_t>(left, *n);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string body = R"({"short_code":"bench","short_url":"http://127.0.0.1/bench"})";
    (void)conn.send_all("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    conn.shutdown_send();
    std::printf("%llu %.3f\n", static_cast<unsigned long long>(total - left), seconds);
    std::fflush(stdout);
}

int sink()
{
    auto listener = platform::Listener::open_loopback(0, 16);
    if (!listener) {
        std::fprintf(stderr, "%s\n", listener.error().c_str());
        return 1;
    }
    std::printf("port %u\n", static_cast<unsigned>(*listener->local_port()));
    std::fflush(stdout);
    for (;;) {
        auto got = listener->accept();
        if (got.status == platform::AcceptStatus::accepted)
            std::thread(count_one, std::move(got.connection)).detach();
    }
}

int upload(const std::string& url, const std::string& file)
{
    auto state = std::make_shared<server::ServerState>("0123456789abcdef0123456789abcdef",
                                                       std::vector<std::filesystem::path>{});
    config::DesktopConfig cfg = state->config_snapshot();
    cfg.server_url = url;
    cfg.api_key = "bench";
    const std::vector<std::filesystem::path> paths = {file};
    auto target = config::analyze_selection(paths);
    if (!target.valid) {
        std::fprintf(stderr, "%s\n", target.error_message.value_or("invalid").c_str());
        return 1;
    }
    const auto started = std::chrono::steady_clock::now();
    uploader::run_upload_job(state, cfg, target, paths, std::nullopt, "30", std::nullopt);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const auto job = state->job_view();
    std::printf("%llu %.3f %s\n", static_cast<unsigned long long>(server::ServerStateProbe::counters(*state).upload_sent_bytes->load()), seconds,
                job.phase.c_str());
    if (job.error)
        std::fprintf(stderr, "%s\n", job.error->c_str());
    return job.phase == "done" ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "sink")
        return sink();
    if (mode == "upload" && argc == 4)
        return upload(argv[2], argv[3]);
    std::fprintf(stderr, "usage: bench_upload sink | upload <url> <file>\n");
    return 2;
}
