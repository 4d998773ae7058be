#pragma once
// The spelling of a path that the win32 file functions hand to the OS.
// Header of the win32 implementation folder only.

#include <filesystem>
#include <string>

namespace platform::win32 {

// `path` in its extended-length form (platform/extended_path.h), a relative path taken
// against the process's current folder. Every open, listing, metadata and rename call of
// this folder passes its paths through here, so that a name from a listing reaches the
// same file when opened, whatever its spelling or length.
[[nodiscard]] std::wstring os_path(const std::filesystem::path& path);

} // namespace platform::win32
