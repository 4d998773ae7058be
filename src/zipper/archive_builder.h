#pragma once
// Packs a selection of files and folders into one temporary ZIP archive for upload.

#include "config/scan_rules.h"
#include "core/result.h"
#include "platform/file.h"
#include "zipper/zip_writer.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zipper {

// The one set of options every entry of the archive gets: DEFLATE at level 6,
// 1980-01-01 00:00:00, mode 0644.
inline constexpr EntryOptions archive_entry_options{};

// Packs `paths` in order into "vano_duvid_<ns>.zip" in the temporary folder and gives its
// path; the file is closed, at most MAX_ZIP_BYTES long, and the caller's to remove.
// Missing paths and what config::item_kind leaves out (links, ignored names, items
// neither file nor folder) are skipped, as the scan skips them; a file is packed under its
// bare name, a folder's contents under its name. No two entries get the same name: a
// later twin is numbered (LevelNames). Adds every chunk of source bytes packed to
// `zip_done_bytes`. Failure is the Korean message, with the temporary
// file already removed.
[[nodiscard]] core::Result<std::filesystem::path> build_archive(const std::vector<std::filesystem::path>& paths,
                                                                std::atomic<std::uint64_t>& zip_done_bytes);

// A fresh name for build_archive: "vano_duvid_<ns>.zip" in the temporary folder.
[[nodiscard]] std::filesystem::path temp_archive_path();

// As build_archive, into `out`, which the caller has just created at `archive` (so that
// it knows the name before the file exists). Removes `archive` on failure.
[[nodiscard]] core::Result<std::filesystem::path> build_archive_into(platform::File out,
                                                                     const std::filesystem::path& archive,
                                                                     const std::vector<std::filesystem::path>& paths,
                                                                     std::atomic<std::uint64_t>& zip_done_bytes);

// Packs one file as the entry `entry_name`, in 65,536-byte chunks, adding each chunk to
// `zip_done_bytes` once it is in. The entry is left open. Failure is the Korean message.
[[nodiscard]] core::Result<void> add_file_to_zip(ZipWriter& writer, const std::filesystem::path& path,
                                                 std::string_view entry_name, const EntryOptions& options,
                                                 std::atomic<std::uint64_t>& zip_done_bytes);

// Packs everything below `dir` as entries "<prefix>/<name>/...", in listing order; what
// config::item_kind leaves out and unreadable items (up to the scan's limit in a row) are
// skipped, folders get no entries, twins within a folder are numbered. Walks without
// recursion, keeping one listing open at a time. Failure is the first Korean message.
[[nodiscard]] core::Result<void> add_dir_to_zip(ZipWriter& writer, const std::filesystem::path& dir,
                                                std::string_view prefix, const EntryOptions& options,
                                                std::atomic<std::uint64_t>& zip_done_bytes);

// add_dir_to_zip with the directory listing supplied by the caller, so that failing
// listings can be tried.
[[nodiscard]] core::Result<void> add_dir_to_zip_with(ZipWriter& writer, const std::filesystem::path& dir,
                                                     std::string_view prefix, const EntryOptions& options,
                                                     std::atomic<std::uint64_t>& zip_done_bytes,
                                                     const config::ListDirFn& list_dir);

// The user's message for a failure of the writer when starting an entry or finishing.
[[nodiscard]] std::string zip_error_message(const ZipError& error);

// True when `text` contains "ZIP_LIMIT_EXCEEDED" (case-sensitive).
[[nodiscard]] bool contains_zip_limit_marker(std::string_view text);

} // namespace zipper
