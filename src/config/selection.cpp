#include "config/selection.h"

#include "config/scan_rules.h"
#include "platform/fs.h"
#include "platform/unicode.h"

#include <array>
#include <charconv>

namespace config {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t document_limit_mb = 500;
constexpr std::uint64_t media_limit_mb = 1024;
constexpr double bytes_per_mb = 1'048'576.0;

constexpr std::array<std::string_view, 14> media_extensions = {"mp4", "m4v", "webm", "mov", "avi", "mkv", "mp3",
                                                               "m4a", "wav", "ogg", "flac", "aac", "wma", "opus"};
constexpr std::array<std::string_view, 13> document_extensions = {"pdf",  "doc", "docx", "xls", "xlsx", "ppt", "pptx",
                                                                  "hwp", "hwpx", "txt", "csv", "zip", "rar"};

bool contains(const auto& table, std::string_view ext)
{
    for (const auto& e : table)
        if (e == ext)
            return true;
    return false;
}

struct NameParts {
    std::string stem;
    std::optional<std::string> extension;
};

// The last "." splits; a name whose only "." is its first character has no extension.
NameParts split_name(const std::string& name)
{
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return {name, std::nullopt};
    return {name.substr(0, dot), name.substr(dot + 1)};
}

// Size in MB with one decimal, as the size messages show it.
std::string mb_text(std::uint64_t bytes)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(bytes) / bytes_per_mb,
                                 std::chars_format::fixed, 1);
    return std::string(buf, r.ptr);
}

bool is_dir_followed(const fs::path& p)
{
    const auto meta = platform::file_meta(p, platform::FollowLinks::yes);
    return meta && meta->is_dir;
}

// Steps for one file sent as it is; nothing when its extension is in neither table.
std::optional<TargetSummary> direct_file(const fs::path& path, TargetSummary s)
{
    const auto last = last_component_text(path);
    const auto parts = last ? split_name(*last) : NameParts{};
    const std::string name = last ? platform::nfc(*last) : "shared_file";
    const std::string stem = last ? platform::nfc(parts.stem) : "shared";
    const std::string ext = parts.extension ? platform::to_lower_full(*parts.extension) : std::string();
    const auto meta = platform::file_meta(path, platform::FollowLinks::yes);
    const std::uint64_t size = meta ? meta->size : 0;

    s.display_name = name;
    s.upload_filename = name;
    s.suggested_code = sanitize_name(stem);
    s.item_count = 1;
    s.file_count = 1;
    s.force_3day_expiry = false;
    if (size == 0) {
        s.kind = TargetKind::DirectDocument;
        s.raw_bytes = 0;
        s.valid = false;
        s.error_message = "빈 파일(0바이트)은 공유할 수 없습니다.";
        return s;
    }
    if (contains(media_extensions, ext)) {
        s.kind = TargetKind::DirectMedia;
        s.raw_bytes = size;
        s.limit_bytes = MEDIA_LIMIT_BYTES;
        s.limit_mb = media_limit_mb;
        if (size > MEDIA_LIMIT_BYTES) {
            s.valid = false;
            s.error_message = "동영상·오디오 파일 크기(" + mb_text(size) + "MB)가 최대 허용 한도(1GB / 1024MB)를 초과했습니다.";
        } else {
            s.valid = true;
            s.force_3day_expiry = size > DOCUMENT_LIMIT_BYTES;
        }
        return s;
    }
    if (contains(document_extensions, ext)) {
        s.kind = TargetKind::DirectDocument;
        s.raw_bytes = size;
        if (size > DOCUMENT_LIMIT_BYTES) {
            s.valid = false;
            s.error_message = "문서·압축 파일 크기(" + mb_text(size) + "MB)가 최대 허용 한도(500MB)를 초과했습니다.";
        } else {
            s.valid = true;
        }
        return s;
    }
    return std::nullopt;
}

struct ScanTotals {
    std::uint64_t raw = 0;
    std::uint64_t files = 0;
    std::optional<std::string> error;
};

bool within_scan_limits(std::uint64_t raw, std::uint64_t files)
{
    return files <= MAX_SCAN_FILES && raw <= MAX_SCAN_RAW_BYTES;
}

// One scan over all items with running totals, stopped by the first message; with
// `scans`, each item's own totals are added while the sum stays within the limits.
ScanTotals scan_items(const std::vector<fs::path>& items, const ItemScans* scans)
{
    ScanTotals t;
    for (const auto& p : items) {
        if (scans) {
            const ItemScan one = (*scans)(p);
            std::uint64_t raw = t.raw, files = t.files;
            add_saturating(raw, one.raw_bytes);
            add_saturating(files, one.file_count);
            // The totals only grow, so a sum within the limits was within them at every
            // file: the running scan would count the same and stop at the same message.
            if (within_scan_limits(raw, files)) {
                t.raw = raw;
                t.files = files;
                if (one.error) {
                    t.error = one.error;
                    break;
                }
                continue;
            }
        }
        if (auto r = scan_folder(p, t.raw, t.files); !r) {
            t.error = r.error();
            break;
        }
    }
    return t;
}

TargetSummary packed(const std::vector<fs::path>& kept, TargetSummary s, const ItemScans* scans)
{
    const fs::path& first = kept.front();
    const auto last = last_component_text(first);
    const std::string base = last ? platform::nfc(split_name(*last).stem) : "공유폴더";
    const std::string last_nfc = last ? platform::nfc(*last) : base;
    const std::size_t n = kept.size();
    std::string archive_base;
    if (n == 1 && is_dir_followed(first)) {
        s.display_name = "📁 " + last_nfc + " (폴더 전체)";
        archive_base = last_nfc;
    } else if (n == 1) {
        s.display_name = last_nfc;
        archive_base = base;
    } else {
        const std::string k = std::to_string(n - 1);
        s.display_name = base + " 외 " + k + "개 항목";
        archive_base = base + "_외_" + k + "건";
    }
    s.upload_filename = archive_base + ".zip";
    s.suggested_code = sanitize_name(archive_base);

    auto [raw, files, error] = scan_items(kept, scans);
    s.error_message = std::move(error);
    if (!s.error_message && files == 0)
        s.error_message = "선택한 폴더 내에 공유 가능한 파일이 없습니다.";
    else if (!s.error_message && raw == 0)
        s.error_message = "선택한 항목의 크기가 0바이트입니다.";

    s.kind = TargetKind::AutoZip;
    s.item_count = n;
    s.file_count = files;
    s.raw_bytes = raw;
    s.limit_bytes = DOCUMENT_LIMIT_BYTES;
    s.limit_mb = document_limit_mb;
    s.force_3day_expiry = false;
    s.valid = !s.error_message;
    return s;
}

// A selected item that is packed; one whose own metadata cannot be read stays, so that
// the scan reports it.
bool is_packed(const fs::path& p)
{
    const auto meta = selected_item_meta(p);
    return !meta || item_kind(p, *meta) != ItemKind::left_out;
}

SelectionAnalysis analyze(const std::vector<fs::path>& paths, const ItemScans* scans)
{
    const auto kept = next_existing_path(paths);
    SelectionAnalysis out;
    TargetSummary& s = out.target;
    s.limit_bytes = DOCUMENT_LIMIT_BYTES;
    s.limit_mb = document_limit_mb;
    if (kept.empty()) {
        s.kind = TargetKind::Empty;
        s.display_name = "선택된 파일 또는 폴더 없음";
        return out;
    }
    for (const auto& p : kept)
        s.paths.push_back(platform::path_to_utf8(p));
    // Of several items, those left out of the archive are neither counted nor named. An
    // item selected alone keeps its own rules (a link to a document is sent as that
    // document), and so does a selection of which nothing is packed.
    if (kept.size() > 1)
        for (const auto& p : kept)
            if (is_packed(p))
                out.items.push_back(p);
    if (out.items.empty())
        out.items = kept;
    std::optional<TargetSummary> direct;
    if (out.items.size() == 1 && !is_dir_followed(out.items.front()))
        direct = direct_file(out.items.front(), s);
    s = direct ? std::move(*direct) : packed(out.items, std::move(s), scans);
    s.needs_zip = s.kind == TargetKind::AutoZip;
    return out;
}

} // namespace

std::string_view target_kind_text(TargetKind kind)
{
    switch (kind) {
    case TargetKind::DirectMedia:
        return "direct_media";
    case TargetKind::DirectDocument:
        return "direct_document";
    case TargetKind::AutoZip:
        return "auto_zip";
    case TargetKind::Empty:
        break;
    }
    return "empty";
}

std::vector<fs::path> next_existing_path(const std::vector<fs::path>& paths)
{
    std::vector<fs::path> kept;
    for (const auto& p : paths)
        if (platform::file_meta(p, platform::FollowLinks::yes))
            kept.push_back(p);
    return kept;
}

TargetSummary analyze_selection(const std::vector<fs::path>& paths) { return analyze(paths, nullptr).target; }

SelectionAnalysis analyze_selection_items(const std::vector<fs::path>& paths, const ItemScans& scans)
{
    return analyze(paths, &scans);
}

ItemScan scan_item(const fs::path& path)
{
    ItemScan out;
    if (auto r = scan_folder(path, out.raw_bytes, out.file_count); !r)
        out.error = r.error();
    return out;
}

} // namespace config
