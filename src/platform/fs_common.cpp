// File services built from the per-OS primitives.
#include "platform/fs.h"

#include "platform/clock.h"

#include <atomic>
#include <chrono>

namespace platform {

core::Result<std::filesystem::path> absolute_path(const std::filesystem::path& path)
{
    // The system's completion reads a path only up to a NUL, which would name another file.
    if (auto clean = check_no_nul(path); !clean)
        return std::unexpected(clean.error());
    if (path.empty())
        return core::fail("empty path");
    if (path.is_absolute())
        return path;
    std::error_code ec;
    if (!path.has_root_name() && !path.has_root_directory()) {
        // Joined as written: the text after the folder stays the user's.
        auto cwd = std::filesystem::current_path(ec);
        if (ec)
            return core::fail(ec.message());
        return cwd / path;
    }
    // "\name" or "D:name" (Windows only): the system knows the drive and its current folder.
    auto full = std::filesystem::absolute(path, ec);
    if (ec)
        return core::fail(ec.message());
    return full;
}

core::Result<void> write_file_atomic(const std::filesystem::path& path, std::string_view bytes)
{
    // Process id, clock and counter keep the names of concurrent writers apart; the id also
    // tells a later start whether the writer of a leftover is gone.
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
    std::filesystem::path tmp = path;
    tmp += ".tmp-" + std::to_string(process_id()) + "-" + std::to_string(stamp) + "-" +
           std::to_string(counter.fetch_add(1));
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
