#include "config/scan_rules.h"

#include "core/utf8.h"
#include "platform/unicode.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace config {

namespace fs = std::filesystem;

namespace {

// Open listings kept at once on the way down; deeper levels read their parents' rest
// into memory first, so that a deep tree does not run out of handles.
constexpr std::size_t max_open_listings = 48;
constexpr std::size_t max_code_chars = 40;

// One folder being walked: its listing while open, then whatever of it was read ahead.
struct Frame {
    explicit Frame(std::unique_ptr<platform::DirListing> l) : listing(std::move(l)) {}

    std::unique_ptr<platform::DirListing> listing;
    std::vector<fs::path> pending;
    std::size_t next_pending = 0;

    // The next readable entry, or nothing when the folder is done.
    std::optional<fs::path> next()
    {
        if (!listing) {
            if (next_pending < pending.size())
                return std::move(pending[next_pending++]);
            return std::nullopt;
        }
        if (auto entry = next_readable_entry(*listing))
            return entry;
        listing.reset();
        return std::nullopt;
    }

    // Reads the rest of the listing ahead and closes it; the order stays the same.
    void read_ahead()
    {
        std::vector<fs::path> rest;
        while (auto p = next())
            rest.push_back(std::move(*p));
        pending = std::move(rest);
        next_pending = 0;
        listing.reset();
    }
};

enum class Visit { done, descend };

// Steps for one entry: its metadata, what is left out, files counted. For a folder it
// gives `descend` with `listing` opened.
// `meta` is the entry's own metadata, links not followed.
core::Result<Visit> visit(const fs::path& path, const core::Result<platform::FileMeta>& meta,
                          std::uint64_t& raw_bytes, std::uint64_t& file_count, const ListDirFn& list_dir,
                          std::unique_ptr<platform::DirListing>& listing)
{
    if (!meta)
        return core::fail("경로 확인 실패: " + meta.error());
    const ItemKind kind = item_kind(path, *meta);
    if (kind == ItemKind::left_out)
        return Visit::done;
    if (kind == ItemKind::file) {
        add_saturating(file_count, 1);
        if (file_count > MAX_SCAN_FILES)
            return core::fail("폴더 내 파일 수가 너무 많습니다 (최대 " + std::to_string(MAX_SCAN_FILES) +
                              "개까지 공유 가능).");
        add_saturating(raw_bytes, meta->size);
        if (raw_bytes > MAX_SCAN_RAW_BYTES)
            return core::fail("폴더·묶음 원본 용량이 너무 큽니다 (압축 후 최대 500MB까지만 공유 가능 / 동영상은 "
                              "개별 파일 우클릭 시 1GB 지원).");
        return Visit::done;
    }
    auto opened = list_dir(path);
    if (!opened)
        return core::fail("폴더 읽기 실패: " + opened.error());
    listing = std::move(*opened);
    return Visit::descend;
}

bool is_allowed_code_char(char32_t c)
{
    return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') || c == U'-' ||
           c == U'_' || (c >= 0xAC00 && c <= 0xD7A3);
}

} // namespace

void add_saturating(std::uint64_t& total, std::uint64_t amount)
{
    total = amount > std::numeric_limits<std::uint64_t>::max() - total ? std::numeric_limits<std::uint64_t>::max()
                                                                       : total + amount;
}

bool is_ignored_entry(std::string_view name)
{
    return name == ".DS_Store" || name == "__MACOSX" || name == "Thumbs.db" || name == "desktop.ini" ||
           name == "Icon\r" || name.starts_with("._");
}

ItemKind item_kind(const fs::path& path, const platform::FileMeta& meta)
{
    if (meta.is_name_surrogate)
        return ItemKind::left_out;
    if (const auto name = last_component_text(path); name && is_ignored_entry(*name))
        return ItemKind::left_out;
    if (meta.is_dir)
        return ItemKind::folder;
    // The archive builder cannot pack what is not a regular file: a FIFO's open waits for
    // a writer, a device may never end.
    return meta.is_regular_file ? ItemKind::file : ItemKind::left_out;
}

core::Result<platform::FileMeta> selected_item_meta(const fs::path& path)
{
    auto meta = platform::file_meta(path, platform::FollowLinks::no);
    if (meta && meta->is_regular_file) {
        // A pipe or a device named by its path may look like a file until it is opened.
        const auto followed = platform::file_meta(path, platform::FollowLinks::yes);
        meta->is_regular_file = followed && followed->is_regular_file;
    }
    return meta;
}

std::optional<fs::path> next_readable_entry(platform::DirListing& listing)
{
    for (int errors_in_a_row = 0; errors_in_a_row < MAX_CONSECUTIVE_ENTRY_ERRORS;) {
        auto entry = listing.next();
        if (!entry)
            return std::nullopt;
        if (*entry)
            return std::move(**entry);
        ++errors_in_a_row;
    }
    return std::nullopt;
}

std::optional<std::string> last_component_text(const fs::path& path)
{
    // The common case, every entry of a listing, without walking all elements.
    if (path.has_filename()) {
        const fs::path name = path.filename();
        if (name.native() != fs::path(".").native() && name.native() != fs::path("..").native())
            return platform::path_to_utf8(name);
    }
    const fs::path relative = path.relative_path();
    std::optional<fs::path> last;
    for (const auto& element : relative) {
        const auto& n = element.native();
        if (n.empty() || n == fs::path(".").native())
            continue;
        last = element;
    }
    if (!last || last->native() == fs::path("..").native())
        return std::nullopt;
    return platform::path_to_utf8(*last);
}

core::Result<void> scan_folder_with(const fs::path& path, std::uint64_t& raw_bytes, std::uint64_t& file_count,
                                    const ListDirFn& list_dir)
{
    // Depth-first like a recursive walk: each sub-folder is finished before the next entry
    // of its parent, with the pending folders on a heap-allocated stack.
    std::vector<Frame> stack;
    // Frames from this index up still hold an open listing; those below were read ahead.
    std::size_t first_open = 0;
    std::unique_ptr<platform::DirListing> listing;
    const auto own = selected_item_meta(path);
    if (VANO_TRY(visit(path, own, raw_bytes, file_count, list_dir, listing)) == Visit::done)
        return core::ok();
    stack.emplace_back(std::move(listing));
    while (!stack.empty()) {
        auto entry = stack.back().next();
        if (!entry) {
            stack.pop_back();
            first_open = std::min(first_open, stack.size());
            continue;
        }
        // Entries read ahead have lost their listing and are looked up by path.
        auto* open = stack.back().listing.get();
        const auto meta = open ? open->entry_meta(*entry) : platform::file_meta(*entry, platform::FollowLinks::no);
        if (VANO_TRY(visit(*entry, meta, raw_bytes, file_count, list_dir, listing)) == Visit::done)
            continue;
        if (stack.size() - first_open >= max_open_listings)
            stack[first_open++].read_ahead();
        stack.emplace_back(std::move(listing));
    }
    return core::ok();
}

core::Result<void> scan_folder(const fs::path& path, std::uint64_t& raw_bytes, std::uint64_t& file_count)
{
    return scan_folder_with(path, raw_bytes, file_count, platform::list_dir);
}

std::string sanitize_name(std::string_view text)
{
    const std::string normal = platform::nfc(text);
    std::u32string out;
    bool last_underscore = false;
    for (std::size_t pos = 0; pos < normal.size();) {
        const char32_t c = core::decode_utf8(normal, pos);
        if (is_allowed_code_char(c)) {
            out.push_back(c);
            last_underscore = c == U'_';
        } else if (!last_underscore && !out.empty()) {
            out.push_back(U'_');
            last_underscore = true;
        }
    }
    const auto first = out.find_first_not_of(U'_');
    if (first == std::u32string::npos)
        return {};
    const auto last = out.find_last_not_of(U'_');
    out = out.substr(first, last - first + 1);
    if (out.size() > max_code_chars)
        out.resize(max_code_chars);
    std::string result;
    for (char32_t c : out)
        core::append_utf8(result, c);
    return result;
}

} // namespace config
