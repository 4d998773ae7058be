#pragma once
// Turns a selection of paths into a TargetSummary: kind, limits, names, validity.

#include <cstdint>
#include <filesystem>
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

// Analyses a selection. Never fails: problems end in `valid` false.
[[nodiscard]] TargetSummary analyze_selection(const std::vector<std::filesystem::path>& paths);

} // namespace config
