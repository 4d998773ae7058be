// Times add-paths with 4k, 8k and 16k distinct files handed over in one request, then a
// one-path hand-off on top of the largest selection (what a newcomer process waits for);
// then an Explorer multi-select of two 2000-file folders and 18 files handed over one
// path at a time, twenty answers in all, of which the last is what the last newcomer
// waits for.
// Usage: bench_add_paths [sizes...]
#include "platform/env.h"
#include "platform/unicode.h"
#include "server/selection_routes.h"
#include "server/server_state.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Files spread over folders of 500, so no listing is huge.
std::vector<std::string> make_files(const fs::path& root, int count)
{
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        const fs::path dir = root / ("d" + std::to_string(i / 500));
        if (i % 500 == 0)
            fs::create_directories(dir);
        const fs::path file = dir / ("f" + std::to_string(i) + ".txt");
        std::ofstream(file, std::ios::binary) << "x";
        out.push_back(platform::path_to_utf8(file));
    }
    return out;
}

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string one_path(const std::string& path) { return nlohmann::json{{"paths", {path}}}.dump(); }

// Twenty hand-offs of one path each: two folders of 2000 files, then 18 files.
int twenty_hand_offs(const fs::path& root)
{
    std::vector<std::string> items;
    for (const char* folder : {"folder1", "folder2"}) {
        (void)make_files(root / folder, 2000);
        items.push_back(platform::path_to_utf8(root / folder));
    }
    for (int i = 0; i < 18; ++i) {
        const fs::path file = root / ("item" + std::to_string(i) + ".pdf");
        std::ofstream(file, std::ios::binary) << "pdf";
        items.push_back(platform::path_to_utf8(file));
    }
    auto state = std::make_shared<server::ServerState>("0123456789abcdef0123456789abcdef", std::vector<fs::path>{});
    double slowest = 0, last = 0;
    for (const auto& item : items) {
        const auto t0 = Clock::now();
        (void)server::handle_add_paths(state, one_path(item));
        last = ms_since(t0);
        slowest = std::max(slowest, last);
    }
    const auto t1 = Clock::now();
    while (!state->selection_version().ready)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double settle_ms = ms_since(t1);
    const auto selection = state->selection_view();
    if (selection.paths.size() != items.size() || selection.target.file_count != 4018) {
        std::fprintf(stderr, "selection holds %zu paths and %llu files, not 20 and 4018\n", selection.paths.size(),
                     static_cast<unsigned long long>(selection.target.file_count));
        return 1;
    }
    std::printf("20 hand-offs (2 x 2000-file folders, 18 files): 20th answer %8.3f ms, slowest %8.3f ms; "
                "analysis done %8.1f ms after it\n",
                last, slowest, settle_ms);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::max(1, std::atoi(argv[i])));
    if (sizes.empty())
        sizes = {4000, 8000, 16000};
    int largest = 0;
    for (const int n : sizes)
        largest = std::max(largest, n);

    const fs::path root =
        platform::temp_dir() / ("vano-bench-add-paths-" + std::to_string(Clock::now().time_since_epoch().count()));
    const auto files = make_files(root, largest + 1);

    for (const int n : sizes) {
        auto state = std::make_shared<server::ServerState>("0123456789abcdef0123456789abcdef",
                                                           std::vector<fs::path>{});
        const std::string body =
            nlohmann::json{{"paths", std::vector<std::string>(files.begin(), files.begin() + n)}}.dump();
        const std::string one = nlohmann::json{{"paths", {files[static_cast<std::size_t>(n)]}}}.dump();
        const auto t0 = Clock::now();
        (void)server::handle_add_paths(state, body);
        const double merge_ms = ms_since(t0);
        const auto t1 = Clock::now();
        (void)server::handle_add_paths(state, one);
        const double one_ms = ms_since(t1);
        const auto kept = state->selection_view().paths.size();
        if (kept != static_cast<std::size_t>(n) + 1) {
            std::fprintf(stderr, "selection holds %zu paths, not %d\n", kept, n + 1);
            fs::remove_all(root);
            return 1;
        }
        std::printf("%6d paths: add-paths %9.1f ms; one more path on top %9.1f ms\n", n, merge_ms, one_ms);
    }
    const int failed = twenty_hand_offs(root / "twenty");
    fs::remove_all(root);
    return failed;
}
