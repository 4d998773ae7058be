// Times scan_folder on a generated tree of 5000 files in 100 folders, beside
// `du -s --apparent-size` on the same tree. Usage: bench_scan_folder [runs]
#include "config/scan_rules.h"
#include "platform/env.h"
#include "platform/unicode.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int folder_count = 100;
constexpr int files_per_folder = 50;

std::uint64_t make_tree(const fs::path& root)
{
    std::uint64_t total = 0;
    unsigned seed = 12345;
    for (int d = 0; d < folder_count; ++d) {
        const fs::path dir = root / ("d" + std::to_string(d));
        fs::create_directories(dir);
        for (int f = 0; f < files_per_folder; ++f) {
            seed = seed * 1103515245u + 12345u;
            const std::size_t size = (seed >> 8) % 8192;
            std::ofstream(dir / ("f" + std::to_string(f) + ".bin"), std::ios::binary) << std::string(size, 'x');
            total += size;
        }
    }
    return total;
}

double median_ms(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <class F>
double time_ms(F&& f)
{
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    const fs::path root = platform::temp_dir() / ("vano-bench-scan-" + std::to_string(Clock::now().time_since_epoch().count()));
    const std::uint64_t expected = make_tree(root);

    std::vector<double> scan, du, spawn;
    std::uint64_t raw = 0, files = 0;
    // One untimed pass of each warms the cache alike.
    (void)config::scan_folder(root, raw, files);
    const std::string du_cmd = "du -s --apparent-size -B1 '" + platform::path_to_utf8(root) + "' > /dev/null";
    const bool have_du = std::system(du_cmd.c_str()) == 0;
    for (int i = 0; i < runs; ++i) {
        scan.push_back(time_ms([&] {
            raw = files = 0;
            if (!config::scan_folder(root, raw, files))
                std::abort();
        }));
        if (have_du) {
            du.push_back(time_ms([&] { (void)std::system(du_cmd.c_str()); }));
            // What starting a shell and a program costs by itself, to read du's figure.
            spawn.push_back(time_ms([&] { (void)std::system("true > /dev/null"); }));
        }
    }
    fs::remove_all(root);
    if (raw != expected || files != folder_count * files_per_folder) {
        std::fprintf(stderr, "wrong totals: %llu bytes, %llu files\n", static_cast<unsigned long long>(raw),
                     static_cast<unsigned long long>(files));
        return 1;
    }
    std::printf("tree: %d files in %d folders, %llu bytes; %d runs each\n", folder_count * files_per_folder,
                folder_count, static_cast<unsigned long long>(expected), runs);
    std::printf("scan_folder (in process)            median %.2f ms\n", median_ms(scan));
    if (have_du) {
        std::printf("du -s --apparent-size (incl. start) median %.2f ms\n", median_ms(du));
        std::printf("  of which starting a process       median %.2f ms\n", median_ms(spawn));
    }
    return 0;
}
