#pragma once
// Turns a selection of paths into a TargetSummary: kind, limits, names, validity.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace config {

inline constexpr std::uint64_t DOCUMENT_LIMIT_BYTES = 524'288'000;
inline constexpr std::uint64_t MEDIA_LIMIT_BYTES = 1'073'741'824;

enum class TargetKind : std::uint8_t { DirectMedia = 0, DirectDocument = 1, AutoZip = 2, Empty = 3 };

// "direct_media", "direct_document", "auto_zip" or "empty".
[[nodiscard]] std::string_view target_kind_text(TargetKind kind);

struct TargetSummary {
    TargetKind kind = TargetKind::Empty;
    std::string display_name;
    std::string upload_filename;
    std::string suggested_code;
    std::uint64_t item_count = 0;
    std::uint64_t file_count = 0;
    std::uint64_t raw_bytes = 0;
    std::uint64_t limit_bytes = DOCUMENT_LIMIT_BYTES;
    std::uint64_t limit_mb = 500;
    bool needs_zip = false;
    bool force_3day_expiry = false;
    bool valid = false;
    std::optional<std::string> error_message;
    std::vector<std::string> paths;

    bool operator==(const TargetSummary&) const = default;
};

// The paths of `paths` that exist (metadata readable with links followed), in order,
// repeats kept.
[[nodiscard]] std::vector<std::filesystem::path> next_existing_path(const std::vector<std::filesystem::path>& paths);

// Analyses a selection. Never fails: problems end in `valid` false. Items that are left
// out of the archive (see item_kind) are not counted once two or more items exist; when
// that leaves one item, the single-item rules apply to it.
[[nodiscard]] TargetSummary analyze_selection(const std::vector<std::filesystem::path>& paths);

// The scan of one selected item from zero totals: what it holds, or the message that
// stopped it with what was counted until then.
struct ItemScan {
    std::uint64_t raw_bytes = 0;
    std::uint64_t file_count = 0;
    std::optional<std::string> error;

    bool operator==(const ItemScan&) const = default;
};

// scan_folder of `path` alone.
[[nodiscard]] ItemScan scan_item(const std::filesystem::path& path);

// Gives the ItemScan of a selected item, from a store of earlier scans or scanning anew.
using ItemScans = std::function<ItemScan(const std::filesystem::path&)>;

// An analysis and the items it describes: the one file sent as it is, or the items packed.
struct SelectionAnalysis {
    TargetSummary target;
    std::vector<std::filesystem::path> items;
};

// analyze_selection, with each packed item's totals taken from `scans` and added up
// instead of one scan over the whole list. Equal to it as long as `scans` gives what
// scan_item would: an item that would take the sum past a scan limit is scanned again
// with the running totals, so the message and the totals are the whole scan's.
[[nodiscard]] SelectionAnalysis analyze_selection_items(const std::vector<std::filesystem::path>& paths,
                                                        const ItemScans& scans);

} // namespace config
