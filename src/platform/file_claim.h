#pragma once
// Claim files: created only when absent, and judged by their modification time.

#include "core/result.h"

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace platform {

// Creates `path`, failing when it already exists, writes `bytes` and closes it. Other
// processes may read, write and delete the file while it is open. Fails with the OS
// error text when the file cannot be created; once it exists, a failed write is not
// reported (the file's presence is what counts).
[[nodiscard]] core::Result<void> create_new_file(const std::filesystem::path& path, std::string_view bytes);

// The file's last-modification time in nanoseconds since the UNIX epoch (negative before
// it), at the file system's resolution; links are followed. Failure is the OS error text.
[[nodiscard]] core::Result<std::int64_t> file_modified_ns(const std::filesystem::path& path);

} // namespace platform
