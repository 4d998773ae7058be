#pragma once
// Names that are never shared, the packing limits of a selection, and short-code names.

#include "core/result.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace config {

inline constexpr std::uint64_t MAX_SCAN_FILES = 5000;
inline constexpr std::uint64_t MAX_SCAN_RAW_BYTES = 1'610'612'736;

// True for ".DS_Store", "__MACOSX", "Thumbs.db", "desktop.ini", "Icon\r" and names
// beginning with "._" (exact, case-sensitive). `name` is a last component only.
[[nodiscard]] bool is_ignored_entry(std::string_view name);

// Adds every file at and below `path` to the totals (saturating); links and junctions
// and ignored names count for nothing. Failure is the first Korean message; the totals
// then hold what was counted so far. Iterative: deep trees do not grow the stack.
[[nodiscard]] core::Result<void> scan_folder(const std::filesystem::path& path, std::uint64_t& raw_bytes,
                                             std::uint64_t& file_count);

// The short-code form of `text` (NFC, allowed characters, runs replaced by "_",
// trimmed of "_", at most 40 characters); may be empty.
[[nodiscard]] std::string sanitize_name(std::string_view text);

} // namespace config
