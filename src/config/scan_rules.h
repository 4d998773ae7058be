#pragma once
// Names that are never shared, the packing limits of a selection, and short-code names.

#include "core/result.h"
#include "platform/fs.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace config {

inline constexpr std::uint64_t MAX_SCAN_FILES = 5000;
inline constexpr std::uint64_t MAX_SCAN_RAW_BYTES = 1'610'612'736;

// True for ".DS_Store", "__MACOSX", "Thumbs.db", "desktop.ini", "Icon\r" and names
// beginning with "._" (exact, case-sensitive). `name` is a last component only.
[[nodiscard]] bool is_ignored_entry(std::string_view name);

// total + amount, staying at the largest value instead of wrapping.
void add_saturating(std::uint64_t& total, std::uint64_t amount);

// Unreadable entries in a row after which a listing counts as finished: a listing that
// fails on every call would otherwise never end.
inline constexpr int MAX_CONSECUTIVE_ENTRY_ERRORS = 64;

// How an item is taken, by the scan and the archive builder alike, so that the summary
// counts exactly what is packed.
enum class ItemKind { left_out, file, folder };

// The kind of the item at `path` from its own metadata (links not followed): links,
// junctions, ignored names and items that are neither a regular file nor a folder
// (FIFOs, sockets, devices) are left out, selected or listed.
[[nodiscard]] ItemKind item_kind(const std::filesystem::path& path, const platform::FileMeta& meta);

// A selected item's own metadata (links not followed); a path that names a pipe or a
// device is no regular file, whatever its attributes say. Failure is the OS error text.
[[nodiscard]] core::Result<platform::FileMeta> selected_item_meta(const std::filesystem::path& path);

// The next entry of `listing` that can be read, skipping unreadable ones; nothing at its
// end or once MAX_CONSECUTIVE_ENTRY_ERRORS entries in a row could not be read (then the
// listing is not to be asked again).
[[nodiscard]] std::optional<std::filesystem::path> next_readable_entry(platform::DirListing& listing);

// Adds every file at and below `path` to the totals (saturating); what item_kind leaves
// out counts for nothing. Failure is the first Korean message; the totals
// then hold what was counted so far. Iterative: deep trees do not grow the stack.
[[nodiscard]] core::Result<void> scan_folder(const std::filesystem::path& path, std::uint64_t& raw_bytes,
                                             std::uint64_t& file_count);

// The path's last name as text (U+FFFD for what cannot be decoded), ignoring trailing
// separators and "." elements; nothing for a root, a bare drive or a path ending in "..".
[[nodiscard]] std::optional<std::string> last_component_text(const std::filesystem::path& path);

// scan_folder with the directory listing supplied by the caller, so that failing
// listings can be tried.
using ListDirFn = std::function<core::Result<std::unique_ptr<platform::DirListing>>(const std::filesystem::path&)>;
[[nodiscard]] core::Result<void> scan_folder_with(const std::filesystem::path& path, std::uint64_t& raw_bytes,
                                                  std::uint64_t& file_count, const ListDirFn& list_dir);

// The short-code form of `text` (NFC, allowed characters, runs replaced by "_",
// trimmed of "_", at most 40 characters); may be empty.
[[nodiscard]] std::string sanitize_name(std::string_view text);

} // namespace config
