#include "server/progress.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace server {

std::string one_decimal(double value)
{
    std::array<char, 64> buf{};
    const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, 1);
    if (ec != std::errc())
        return "0.0";
    return std::string(buf.data(), end);
}

void apply_progress_figures(JobState& job, std::uint64_t done, std::uint64_t total, std::uint64_t upload_elapsed_ms)
{
    const bool zipping = job.phase == "zipping";
    if (!zipping && job.phase != "uploading")
        return;
    const double done_f = static_cast<double>(done);
    const double total_f = static_cast<double>(total == 0 ? 1 : total);
    const double clamped = std::min(99.5, std::max(0.0, done_f / total_f * 100.0));
    job.percent = std::round(clamped * 10.0) / 10.0;

    const double done_mb = std::ldexp(done_f, -20);
    const double total_mb = std::ldexp(total_f, -20);
    if (zipping) {
        job.detail_text = "자동 ZIP 압축 중... (" + one_decimal(done_mb) + "MB / " + one_decimal(total_mb) + "MB)";
        return;
    }
    const double seconds = std::max(static_cast<double>(upload_elapsed_ms) / 1000.0, 0.1);
    job.detail_text = "서버 전송 중... " + one_decimal(done_mb) + "MB / " + one_decimal(total_mb) + "MB ("
        + one_decimal(done_mb / seconds) + " MB/s)";
}

void apply_live_progress(JobState& job, const JobCounters& counters, MonoInstant start)
{
    if (job.phase == "zipping") {
        apply_progress_figures(job, counters.zip_done_bytes->load(), counters.zip_total_bytes->load(), 0);
    } else if (job.phase == "uploading") {
        const std::uint64_t done = counters.upload_sent_bytes->load();
        const std::uint64_t total = counters.upload_total_bytes->load();
        const std::uint64_t now = elapsed_ms(start);
        const std::uint64_t started = counters.upload_started_ms->load();
        apply_progress_figures(job, done, total, now > started ? now - started : 0);
    }
}

} // namespace server
