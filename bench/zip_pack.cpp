// Packs the folders and files named on the command line into a temporary archive with
// build_archive, prints the archive's size and the wall time, and removes the archive.
// usage: bench_zip_pack PATH...

#include "platform/fs.h"
#include "platform/unicode.h"
#include "zipper/archive_builder.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> paths;
    for (int i = 1; i < argc; ++i)
        paths.push_back(platform::path_from_utf8(argv[i]));
    std::atomic<std::uint64_t> done{0};
    const auto start = std::chrono::steady_clock::now();
    auto archive = zipper::build_archive(paths, done);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!archive) {
        std::fprintf(stderr, "%s\n", archive.error().c_str());
        return 1;
    }
    const auto meta = platform::file_meta(*archive, platform::FollowLinks::yes);
    std::printf("packed %llu bytes into %llu in %.3f s\n", static_cast<unsigned long long>(done.load()),
                static_cast<unsigned long long>(meta ? meta->size : 0), took.count());
    (void)platform::remove_file(*archive);
    return 0;
}
