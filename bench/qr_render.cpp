// Time to render the QR SVG of a short link and of a 2,000-character text.

#include "uploader/qr_svg.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void report(const char* label, const std::string& text, int runs)
{
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(runs));
    std::size_t sink = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto svg = uploader::render_qr_svg(text);
        const auto stop = std::chrono::steady_clock::now();
        sink += svg ? svg->size() : 0;
        times.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%s: median of %d runs %.1f us (%zu bytes of SVG)\n", label, runs, times[times.size() / 2],
                sink / static_cast<std::size_t>(runs));
}

} // namespace

int main()
{
    const std::string link = "https://vano.example/s/Ab3xYz9"; // 30 characters
    std::string text;
    for (int i = 0; text.size() < 2000; ++i)
        text += "https://vano.example/file-" + std::to_string(i) + "/ABC" + std::to_string(i * 7919) + "?q=x&";
    text.resize(2000);

    report("30-character link", link, 2000);
    report("2000-character text", text, 200);
    return 0;
}
