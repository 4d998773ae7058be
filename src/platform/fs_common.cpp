// File services built from the per-OS primitives.
#include "platform/fs.h"

#include <atomic>
#include <chrono>

namespace platform {

core::Result<void> write_file_atomic(const std::filesystem::path& path, std::string_view bytes)
{
    // Clock and counter keep the names of concurrent writers, in this process or another, apart.
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
    std::filesystem::path tmp = path;
    tmp += ".tmp-" + std::to_string(stamp) + "-" + std::to_string(counter.fetch_add(1));
    if (auto r = write_file_synced(tmp, bytes); !r) {
        (void)remove_file(tmp);
        return r;
    }
    if (auto r = rename_replace(tmp, path); !r) {
        (void)remove_file(tmp);
        return r;
    }
    return core::ok();
}

} // namespace platform
