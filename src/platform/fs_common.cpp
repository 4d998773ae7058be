// File services built from the per-OS primitives.
#include "platform/fs.h"

#include "platform/clock.h"
#include "platform/file.h"

#include <atomic>
#include <chrono>

namespace platform {

namespace {

constexpr std::size_t read_piece = 64 * 1024;

enum class Durability { none, synced };

core::Result<void> write_whole(const std::filesystem::path& path, std::string_view bytes, Durability durability)
{
    // Nobody else writes, removes or renames it before it is whole.
    auto file = VANO_TRY(File::create_write(path, WriteSharing::readers_only));
    while (!bytes.empty()) {
        const std::size_t n = VANO_TRY(file.write(bytes.data(), bytes.size()));
        if (n == 0)
            return core::fail("failed to write whole buffer");
        bytes.remove_prefix(n);
    }
    if (durability == Durability::synced)
        VANO_TRY(file.sync());
    return file.close();
}

} // namespace

core::Result<std::string> read_file(const std::filesystem::path& path)
{
    auto file = VANO_TRY(File::open_read(path));
    std::string out;
    char buf[read_piece];
    for (;;) {
        const std::size_t n = VANO_TRY(file.read(buf, sizeof buf));
        if (n == 0)
            return out;
        out.append(buf, n);
    }
}

core::Result<void> write_file(const std::filesystem::path& path, std::string_view bytes)
{
    return write_whole(path, bytes, Durability::none);
}

core::Result<void> write_file_synced(const std::filesystem::path& path, std::string_view bytes)
{
    return write_whole(path, bytes, Durability::synced);
}

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
