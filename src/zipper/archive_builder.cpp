#include "zipper/archive_builder.h"

#include "config/scan_rules.h"
#include "platform/env.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/unicode.h"
#include "zipper/entry_names.h"
#include "zipper/limited_file.h"

#include <array>
#include <chrono>
#include <memory>
#include <optional>

namespace zipper {

namespace {

constexpr std::size_t chunk_size = 65536;

constexpr std::string_view limit_message =
    "폴더/파일 압축 후 크기가 최대 허용 한도(500MB)를 초과하여 중단되었습니다.";

bool is_limit_error(const ZipError& error)
{
    return error.kind == ZipError::Kind::file_too_large || contains_zip_limit_marker(error.text);
}

std::string entry_message(std::string_view prefix, std::string_view name, std::string_view error)
{
    std::string out(prefix);
    out += " (";
    out += name;
    out += "): ";
    out += error;
    return out;
}

// The name a top-level path is packed under: its last component (trailing "/" and "."
// ignored); "item" for a root or a path ending in "..".
std::string top_level_name(const std::filesystem::path& path)
{
    const auto last = config::last_component_text(path);
    return last ? platform::nfc(*last) : "item";
}

// An item to pack: a file or a folder (config::item_kind), under its NFC name.
struct Item {
    std::filesystem::path path;
    config::ItemKind kind;
    std::string name;
};

// Names of one level, and the items of that level that are not left out.
struct Level {
    std::vector<Item> items;
    LevelNames names;
};

Level level_of(std::vector<Item> items)
{
    std::vector<std::string> originals;
    originals.reserve(items.size());
    for (const auto& item : items)
        originals.push_back(item.name);
    LevelNames names(originals);
    return {std::move(items), std::move(names)};
}

NameOf name_kind(const Item& item) { return item.kind == config::ItemKind::folder ? NameOf::folder : NameOf::file; }

// One folder of the walk: its remaining items and its entry-name prefix. The listing is
// read whole and closed before descending, so deep trees hold no handle per level.
struct Frame {
    Level level;
    std::size_t next = 0;
    std::string prefix;
};

core::Result<Frame> open_frame(const std::filesystem::path& dir, std::string prefix, const config::ListDirFn& list_dir)
{
    auto listing = list_dir(dir);
    if (!listing)
        return core::fail("폴더 열기 실패: " + listing.error());
    std::vector<Item> items;
    // Unreadable items are skipped, up to the scan's limit in a row, so that the summary
    // counts what is packed.
    while (auto path = config::next_readable_entry(**listing)) {
        const auto meta = (*listing)->entry_meta(*path);
        if (!meta) // an item whose metadata cannot be read is skipped
            continue;
        const auto kind = config::item_kind(*path, *meta);
        if (kind == config::ItemKind::left_out)
            continue;
        std::string name = platform::nfc(platform::path_to_utf8(path->filename()));
        items.push_back({std::move(*path), kind, std::move(name)});
    }
    return Frame{level_of(std::move(items)), 0, std::move(prefix)};
}

} // namespace

std::filesystem::path temp_archive_path()
{
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
    const std::uint64_t n = ns > 0 ? static_cast<std::uint64_t>(ns) : 0;
    return platform::temp_dir() / ("vano_duvid_" + std::to_string(n) + ".zip");
}

bool contains_zip_limit_marker(std::string_view text) { return text.find(zip_limit_marker) != std::string_view::npos; }

std::string zip_error_message(const ZipError& error)
{
    if (error.kind == ZipError::Kind::writer)
        return "ZIP 압축 오류: " + error.text;
    if (is_limit_error(error))
        return std::string(limit_message);
    return "압축 중 입출력 오류: " + error.text;
}

core::Result<void> add_file_to_zip(ZipWriter& writer, const std::filesystem::path& path, std::string_view entry_name,
                                   const EntryOptions& options, std::atomic<std::uint64_t>& zip_done_bytes)
{
    if (auto started = writer.start_file(entry_name, options); !started)
        return core::fail(zip_error_message(started.error()));
    auto file = platform::File::open_read(path);
    if (!file)
        return core::fail(entry_message("파일 읽기 실패", entry_name, file.error()));
    auto buffer = std::make_unique<std::array<char, chunk_size>>();
    for (;;) {
        auto got = file->read(buffer->data(), buffer->size());
        if (!got)
            return core::fail(entry_message("파일 읽기 오류", entry_name, got.error()));
        if (*got == 0)
            return core::ok();
        if (auto put = writer.write_all(buffer->data(), *got); !put) {
            if (is_limit_error(put.error()))
                return core::fail(std::string(limit_message));
            return core::fail("압축 데이터 기록 실패: " + put.error().text);
        }
        zip_done_bytes.fetch_add(*got, std::memory_order_relaxed);
    }
}

core::Result<void> add_dir_to_zip(ZipWriter& writer, const std::filesystem::path& dir, std::string_view prefix,
                                  const EntryOptions& options, std::atomic<std::uint64_t>& zip_done_bytes)
{
    return add_dir_to_zip_with(writer, dir, prefix, options, zip_done_bytes, platform::list_dir);
}

core::Result<void> add_dir_to_zip_with(ZipWriter& writer, const std::filesystem::path& dir, std::string_view prefix,
                                       const EntryOptions& options, std::atomic<std::uint64_t>& zip_done_bytes,
                                       const config::ListDirFn& list_dir)
{
    std::vector<Frame> stack;
    stack.push_back(VANO_TRY(open_frame(dir, std::string(prefix), list_dir)));
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.level.items.size()) {
            stack.pop_back();
            continue;
        }
        const Item item = std::move(top.level.items[top.next++]);
        std::string entry_name = top.prefix + "/" + top.level.names.claim(item.name, name_kind(item));
        if (item.kind == config::ItemKind::folder) {
            // `top` may move once the stack grows.
            stack.push_back(VANO_TRY(open_frame(item.path, std::move(entry_name), list_dir)));
        } else {
            VANO_TRY(add_file_to_zip(writer, item.path, entry_name, options, zip_done_bytes));
        }
    }
    return core::ok();
}

core::Result<std::filesystem::path> build_archive(const std::vector<std::filesystem::path>& paths,
                                                  std::atomic<std::uint64_t>& zip_done_bytes)
{
    const std::filesystem::path archive = temp_archive_path();
    auto created = platform::File::create_write(archive);
    if (!created) {
        (void)platform::remove_file(archive);
        return core::fail("임시 압축파일 생성 실패: " + created.error());
    }
    return build_archive_into(std::move(*created), archive, paths, zip_done_bytes);
}

core::Result<std::filesystem::path> build_archive_into(platform::File created, const std::filesystem::path& archive,
                                                       const std::vector<std::filesystem::path>& paths,
                                                       std::atomic<std::uint64_t>& zip_done_bytes)
{
    auto out = std::make_unique<LimitedFile>(std::move(created), MAX_ZIP_BYTES);
    auto writer = std::make_unique<ZipWriter>(*out);
    auto fail = [&](std::string message) -> core::Result<std::filesystem::path> {
        writer.reset();
        out.reset();
        (void)platform::remove_file(archive);
        return core::fail(std::move(message));
    };

    // Selected items are taken as the scan takes them: a selected link or ignored name is
    // left out, so that the summary's counts and limits see everything packed.
    std::vector<Item> selected;
    for (const auto& path : paths) {
        const auto meta = config::selected_item_meta(path);
        if (!meta)
            continue; // missing
        const auto kind = config::item_kind(path, *meta);
        if (kind != config::ItemKind::left_out)
            selected.push_back({path, kind, top_level_name(path)});
    }
    Level top = level_of(std::move(selected));
    for (const Item& item : top.items) {
        const std::string name = top.names.claim(item.name, name_kind(item));
        auto packed = item.kind == config::ItemKind::folder
                          ? add_dir_to_zip(*writer, item.path, name, archive_entry_options, zip_done_bytes)
                          : add_file_to_zip(*writer, item.path, name, archive_entry_options, zip_done_bytes);
        if (!packed)
            return fail(std::move(packed.error()));
    }

    if (auto finished = writer->finish(); !finished)
        return fail(zip_error_message(finished.error()));
    auto meta = platform::file_meta(archive, platform::FollowLinks::yes);
    if (!meta)
        return fail("압축 파일 크기 확인 실패: " + meta.error());
    if (meta->size > MAX_ZIP_BYTES)
        return fail("압축 후 용량이 최대 한도(500MB)를 초과했습니다.");
    writer.reset();
    out->close();
    return archive;
}

} // namespace zipper
