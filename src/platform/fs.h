#pragma once
// File-system services: metadata, listings, whole-file reads and writes.

#include "core/result.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum class FollowLinks { no, yes };

struct FileMeta {
    bool is_dir = false;
    // A plain file whose bytes can be read to an end: not a folder, link, FIFO, socket or
    // device (on Windows: a file of the disk that is not a name surrogate).
    bool is_regular_file = false;
    // A symbolic link or junction: on Windows a reparse point whose tag has the
    // name-surrogate bit (0x20000000); on POSIX a symbolic link.
    bool is_name_surrogate = false;
    std::uint64_t size = 0;
};

// Fails, with the OS's text for a name that reaches no file, when `path` holds a NUL
// character: the OS reads a path only up to its first NUL, so such a path would reach a
// file other than the one it names. Every function here that takes a path checks it
// first, so a path holding NUL exists for none of them.
[[nodiscard]] core::Result<void> check_no_nul(const std::filesystem::path& path);

// `path` made absolute against the current folder, the rest of its text kept (on
// Windows a relative path is completed by the system's own rules, which also name the
// current folder of another drive for "D:name"). An absolute path comes back unchanged.
// Fails for an empty path, a path holding NUL, or when the current folder is unknown.
[[nodiscard]] core::Result<std::filesystem::path> absolute_path(const std::filesystem::path& path);

// Metadata of `path`; failure is the OS error text.
[[nodiscard]] core::Result<FileMeta> file_meta(const std::filesystem::path& path, FollowLinks follow);

// One open directory listing; "." and ".." are never given.
class DirListing {
public:
    virtual ~DirListing() = default;
    // The next entry's full path; nothing at the end; an error for an entry that could
    // not be read (the caller may go on calling next()).
    [[nodiscard]] virtual std::optional<core::Result<std::filesystem::path>> next() = 0;

    // Metadata, links not followed, of `entry`, the path that next() gave last. Listings
    // that already hold it (Windows) or can ask relative to the open folder (POSIX)
    // answer without a second lookup of the whole path.
    [[nodiscard]] virtual core::Result<FileMeta> entry_meta(const std::filesystem::path& entry)
    {
        return file_meta(entry, FollowLinks::no);
    }
};

// Opens a listing; failure is the OS error text.
[[nodiscard]] core::Result<std::unique_ptr<DirListing>> list_dir(const std::filesystem::path& dir);

// Whole-file read; failure is the OS error text.
[[nodiscard]] core::Result<std::string> read_file(const std::filesystem::path& path);

// Creates or truncates `path` and writes `bytes`; on POSIX the file is the user's alone
// (0600). Failure is the OS error text.
[[nodiscard]] core::Result<void> write_file(const std::filesystem::path& path, std::string_view bytes);

// As write_file, and flushed to the disk before it returns.
[[nodiscard]] core::Result<void> write_file_synced(const std::filesystem::path& path, std::string_view bytes);

// Writes `bytes` to a temporary file beside `path`, then renames it over `path`, so that
// a reader or a crash sees the old content or the new, never a part.
[[nodiscard]] core::Result<void> write_file_atomic(const std::filesystem::path& path, std::string_view bytes);

// Creates `dir` with every missing parent; an existing folder is fine and left as it is.
// On POSIX each folder made is the user's alone (0700).
[[nodiscard]] core::Result<void> create_dirs(const std::filesystem::path& dir);

// Renames, replacing an existing target. A target that another process has open for a
// moment (which Windows will not replace) is waited for, up to about two seconds.
[[nodiscard]] core::Result<void> rename_replace(const std::filesystem::path& from, const std::filesystem::path& to);

// Removes a file; a missing file is an error.
[[nodiscard]] core::Result<void> remove_file(const std::filesystem::path& path);

// Copies a file, replacing an existing target.
[[nodiscard]] core::Result<void> copy_file(const std::filesystem::path& from, const std::filesystem::path& to);

// The full path of the running program.
[[nodiscard]] core::Result<std::filesystem::path> current_exe_path();

} // namespace platform
