// The live progress figures of the state reply.
#include "server/progress.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressTest, FiguresFollowTheCounters)
{
    struct Case {
        std::string_view name;
        std::string_view phase;
        std::uint64_t done, total, upload_elapsed_ms;
        double percent;
        std::string_view detail;
    };
    const Case cases[] = {
        {"zipping half", "zipping", 52'428'800, 104'857'600, 0, 50.0, "자동 ZIP 압축 중... (50.0MB / 100.0MB)"},
        {"uploading half in 4 s", "uploading", 10'485'760, 20'971'520, 4000, 50.0, "서버 전송 중... 10.0MB / 20.0MB (2.5 MB/s)"},
        {"two of three", "zipping", 2, 3, 0, 66.7, "자동 ZIP 압축 중... (0.0MB / 0.0MB)"},
        {"one of three", "zipping", 1, 3, 0, 33.3, "자동 ZIP 압축 중... (0.0MB / 0.0MB)"},
        {"999 of 1000 stops at 99.5", "zipping", 999, 1000, 0, 99.5, "자동 ZIP 압축 중... (0.0MB / 0.0MB)"},
        {"done above total", "zipping", 2'097'152, 1'048'576, 0, 99.5, "자동 ZIP 압축 중... (2.0MB / 1.0MB)"},
        {"all done still 99.5", "uploading", 1'048'576, 1'048'576, 1000, 99.5, "서버 전송 중... 1.0MB / 1.0MB (1.0 MB/s)"},
        {"nothing of nothing", "zipping", 0, 0, 0, 0.0, "자동 ZIP 압축 중... (0.0MB / 0.0MB)"},
        {"1.5 MiB", "zipping", 1'572'864, 3'145'728, 0, 50.0, "자동 ZIP 압축 중... (1.5MB / 3.0MB)"},
        {"figures tie to even", "zipping", 262'144, 786'432, 0, 33.3, "자동 ZIP 압축 중... (0.2MB / 0.8MB)"},
        {"percent halves away from zero", "zipping", 1, 16, 0, 6.3, "자동 ZIP 압축 중... (0.0MB / 0.0MB)"},
        {"under 100 ms counts as 0.1 s", "uploading", 1'048'576, 2'097'152, 50, 50.0, "서버 전송 중... 1.0MB / 2.0MB (10.0 MB/s)"},
        {"no time at all", "uploading", 1'048'576, 2'097'152, 0, 50.0, "서버 전송 중... 1.0MB / 2.0MB (10.0 MB/s)"},
        {"done keeps the record", "done", 1, 3, 0, 100.0, "kept"},
        {"error keeps the record", "error", 1, 3, 0, 100.0, "kept"},
        {"idle keeps the record", "idle", 1, 3, 0, 100.0, "kept"},
        {"phase compared exactly", "Zipping", 1, 3, 0, 100.0, "kept"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server::JobState job;
        job.phase = std::string(c.phase);
        job.percent = 100.0;
        job.detail_text = "kept";
        server::apply_progress_figures(job, c.done, c.total, c.upload_elapsed_ms);
        EXPECT_EQ(job.percent, c.percent);
        EXPECT_EQ(job.detail_text, c.detail);
    }
}

TEST(ProgressTest, OneDecimalIsFixedNotation)
{
    struct Case {
        double value;
        std::string_view text;
    };
    const Case cases[] = {{0.0, "0.0"}, {0.05, "0.1"}, {0.25, "0.2"}, {0.75, "0.8"}, {99.95, "100.0"},
                          {1234567.0, "1234567.0"}, {1e-9, "0.0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(server::one_decimal(c.value), c.text);
    }
}

} // namespace
