// Memory and threads held by peers that never finish their request, measured on a running
// instance, in one of two runs:
//
// held: 800 connections each send a head declaring a 2 MiB body (no token) and nothing
// more, then 200 connections trickle a head one byte every 5 s. Meanwhile one valid
// request must be answered. Reports the instance's resident memory (now and peak, from
// /proc), the valid request's answer, and when the server closed each trickling
// connection (measured from its connect).
//
// attack: 200 connections at once each send 99 header lines of 65,000 bytes and a body
// one byte short of the 2 MiB it declares (no token), then wait. Meanwhile one valid
// request must be answered; the instance's peak resident memory must stay under 64 MiB.
//
//   bench_request_memory PORT TOKEN PID [held|attack]   (bench/request_memory.sh runs both)

#include "platform/socket.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int held_count = 800;
constexpr int trickle_count = 200;
constexpr auto trickle_interval = 5s;
// A trickling connection still open this long after its connect counts as never closed.
constexpr auto trickle_give_up = 60s;
constexpr auto closed_by = 31s;

// 63 bytes, no token. Trickled, it takes 315 s to arrive whole.
const std::string head = "POST /api/local/add-paths HTTP/1.1\r\nContent-Length: 2097152\r\n\r\n";

// A "VmRSS"-style line of /proc/PID/status in KiB; nothing once the process is gone.
std::optional<long> status_kib(const std::string& pid, std::string_view key)
{
    std::ifstream in("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with(key) && line.size() > key.size() && line[key.size()] == ':')
            return std::stol(line.substr(key.size() + 1));
    }
    return std::nullopt;
}

double mib(long kib) { return static_cast<double>(kib) / 1024.0; }

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct TrickleOutcome {
    std::optional<Clock::duration> closed_after; // nothing: still open at the give-up time
    bool got_reply = false;
    bool connected = true;
};

// Sends one byte of the head every trickle_interval until the server closes the
// connection. A reply byte is noted: the server must close without one.
TrickleOutcome trickle(std::uint16_t port)
{
    TrickleOutcome out;
    auto conn = platform::connect_loopback(port, 10s);
    if (!conn) {
        out.connected = false;
        return out;
    }
    const auto start = Clock::now();
    for (std::size_t i = 0; Clock::now() - start < trickle_give_up; ++i) {
        if (!conn->send_all(std::string_view(head).substr(i % head.size(), 1))) {
            out.closed_after = Clock::now() - start;
            return out;
        }
        const auto sent = Clock::now();
        (void)conn->set_recv_timeout(trickle_interval);
        char byte = 0;
        const auto got = conn->recv_some(&byte, 1);
        // The server reads every byte it gets, so its close is an orderly end of stream; a
        // failure that comes well before the interval is a reset, one at the interval the
        // receive time-out.
        if (got && *got > 0) {
            out.got_reply = true;
            out.closed_after = Clock::now() - start;
            return out;
        }
        if (got || Clock::now() - sent < trickle_interval - 500ms) {
            out.closed_after = Clock::now() - start;
            return out;
        }
    }
    return out;
}

// One authorised state request; the status line of its reply, or what failed.
std::string valid_request(std::uint16_t port, const std::string& token)
{
    auto conn = platform::connect_loopback(port, 10s);
    if (!conn)
        return "connect failed: " + conn.error();
    if (!conn->send_all("GET /api/local/state HTTP/1.1\r\nX-Local-Token: " + token + "\r\n\r\n"))
        return "send failed";
    (void)conn->set_recv_timeout(20s);
    std::string reply;
    char buf[4096];
    for (;;) {
        const auto n = conn->recv_some(buf, sizeof buf);
        if (!n || *n == 0)
            break;
        reply.append(buf, *n);
    }
    return reply.empty() ? "no reply" : reply.substr(0, reply.find("\r\n"));
}

constexpr int attack_count = 200;
constexpr int attack_header_lines = 99;
constexpr std::size_t attack_line_bytes = 65'000;
constexpr std::size_t attack_declared_body = 2'097'152;
constexpr auto attack_hold = 15s;
constexpr long attack_rss_goal_kib = 64 * 1024;

std::string attack_head()
{
    std::string h = "POST /api/local/add-paths HTTP/1.1\r\n";
    for (int i = 0; i < attack_header_lines; ++i) {
        const std::string name = "X-Fill-" + std::to_string(i) + ": ";
        h += name + std::string(attack_line_bytes - name.size() - 2, 'f') + "\r\n";
    }
    return h + "Content-Length: " + std::to_string(attack_declared_body) + "\r\n\r\n";
}

// Many peers without the token that push big heads and an almost complete body at once;
// the peak memory they cause, while a valid request is asked for among them.
int run_attack(std::uint16_t port, const std::string& token, const std::string& pid)
{
    std::printf("RSS before: %.1f MiB\n", mib(status_kib(pid, "VmRSS").value_or(0)));
    const std::string request = attack_head() + std::string(attack_declared_body - 1, 'b');
    std::atomic<int> connected{0}, sent_whole{0}, cut_off{0};
    std::vector<std::thread> peers;
    const auto t0 = Clock::now();
    for (int i = 0; i < attack_count; ++i)
        peers.emplace_back([&] {
            auto conn = platform::connect_loopback(port, 10s);
            if (!conn)
                return;
            ++connected;
            (conn->send_all(request) ? sent_whole : cut_off)++;
            std::this_thread::sleep_for(attack_hold); // then wait, holding the connection
        });
    std::this_thread::sleep_for(1s);
    const auto asked = Clock::now();
    const std::string answer = valid_request(port, token);
    std::printf("valid request among %d attacking connections: \"%s\" in %.1f ms\n", attack_count, answer.c_str(),
                seconds(Clock::now() - asked) * 1000);
    for (auto& t : peers)
        t.join();
    const long peak = status_kib(pid, "VmHWM").value_or(0);
    std::printf("%d connected in %.2f s; %d sent %.1f MiB whole, %d were cut off by the server\n", connected.load(),
                seconds(Clock::now() - t0), sent_whole.load(), mib(static_cast<long>(request.size() / 1024)),
                cut_off.load());
    std::printf("RSS now: %.1f MiB; peak (VmHWM): %.1f MiB (goal: under %.0f MiB)\n",
                mib(status_kib(pid, "VmRSS").value_or(0)), mib(peak), mib(attack_rss_goal_kib));
    return peak < attack_rss_goal_kib && answer.starts_with("HTTP/1.1 200") ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: bench_request_memory PORT TOKEN PID [held|attack]\n");
        return 2;
    }
    const auto port = static_cast<std::uint16_t>(std::stoi(argv[1]));
    const std::string token = argv[2];
    const std::string pid = argv[3];
    if (argc == 5 && std::string_view(argv[4]) == "attack")
        return run_attack(port, token, pid);

    std::printf("RSS before: %.1f MiB\n", mib(status_kib(pid, "VmRSS").value_or(0)));

    std::atomic<bool> sampling{true};
    std::atomic<long> highest_sample{0};
    std::thread sampler([&] {
        while (sampling.load()) {
            if (const auto rss = status_kib(pid, "VmRSS"))
                highest_sample.store(std::max(highest_sample.load(), *rss));
            std::this_thread::sleep_for(100ms);
        }
    });

    const auto t0 = Clock::now();
    std::vector<platform::Socket> held;
    int held_failed = 0;
    for (int i = 0; i < held_count; ++i) {
        auto conn = platform::connect_loopback(port, 10s);
        if (!conn || !conn->send_all(head)) {
            ++held_failed;
            continue;
        }
        held.push_back(std::move(*conn));
    }
    std::printf("%d connections sent a %zu-byte head declaring 2 MiB in %.2f s (%d failed)\n", held_count,
                head.size(), seconds(Clock::now() - t0), held_failed);
    std::this_thread::sleep_for(1s);
    std::printf("RSS after the heads: %.1f MiB\n", mib(status_kib(pid, "VmRSS").value_or(0)));

    std::vector<TrickleOutcome> outcomes(trickle_count);
    std::vector<std::thread> tricklers;
    for (int i = 0; i < trickle_count; ++i)
        tricklers.emplace_back([&outcomes, i, port] { outcomes[static_cast<std::size_t>(i)] = trickle(port); });

    std::this_thread::sleep_for(2s);
    const auto asked = Clock::now();
    const std::string answer = valid_request(port, token);
    std::printf("valid request while all are held: \"%s\" in %.1f ms\n", answer.c_str(),
                seconds(Clock::now() - asked) * 1000);

    for (auto& t : tricklers)
        t.join();
    sampling.store(false);
    sampler.join();

    int closed_in_time = 0, never_closed = 0, replied = 0, not_connected = 0;
    double first = 1e9, last = 0;
    for (const auto& o : outcomes) {
        not_connected += o.connected ? 0 : 1;
        replied += o.got_reply ? 1 : 0;
        if (!o.connected)
            continue;
        if (!o.closed_after) {
            ++never_closed;
            continue;
        }
        closed_in_time += *o.closed_after <= closed_by ? 1 : 0;
        first = std::min(first, seconds(*o.closed_after));
        last = std::max(last, seconds(*o.closed_after));
    }
    std::printf("trickling connections closed by %lld s: %d of %d", static_cast<long long>(closed_by.count()),
                closed_in_time, trickle_count);
    if (first <= last)
        std::printf(" (closed between %.2f s and %.2f s after their connect)", first, last);
    std::printf("; still open after %lld s: %d; got reply bytes: %d; failed to connect: %d\n",
                static_cast<long long>(trickle_give_up.count()), never_closed, replied, not_connected);
    std::printf("RSS now: %.1f MiB; highest sample: %.1f MiB; peak (VmHWM): %.1f MiB\n",
                mib(status_kib(pid, "VmRSS").value_or(0)), mib(highest_sample.load()),
                mib(status_kib(pid, "VmHWM").value_or(0)));
    return 0;
}
