#include "main/leftovers.h"

#include "config/desktop_config.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/file_claim.h"
#include "platform/fs.h"
#include "platform/unicode.h"

#include <charconv>
#include <string>
#include <vector>

namespace app {

namespace {

constexpr std::string_view SESSION_PREFIX = "active_session.";
constexpr std::string_view SESSION_SUFFIX = ".tmp";
constexpr std::string_view CONFIG_PREFIX = "desktop_config.json.tmp-";

bool all_digits(std::string_view text)
{
    if (text.empty())
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::optional<std::uint32_t> parse_pid(std::string_view text)
{
    std::uint32_t pid = 0;
    if (!all_digits(text) || std::from_chars(text.data(), text.data() + text.size(), pid).ec != std::errc{})
        return std::nullopt;
    return pid;
}

// The parts of "a-b-c" split at '-', each made of digits; nothing otherwise.
std::optional<std::vector<std::string_view>> digit_fields(std::string_view text)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const auto dash = text.find('-');
        const auto field = text.substr(0, dash);
        if (!all_digits(field))
            return std::nullopt;
        fields.push_back(field);
        if (dash == std::string_view::npos)
            return fields;
        text.remove_prefix(dash + 1);
    }
}

bool is_older_than(const std::filesystem::path& file, std::uint64_t now_ns, std::int64_t secs)
{
    const auto modified = platform::file_modified_ns(file);
    if (!modified)
        return false;
    const __int128 age = static_cast<__int128>(now_ns) - *modified;
    return age > static_cast<__int128>(secs) * 1'000'000'000;
}

// Removes the plain files of `dir` whose name is `ours` and for which `doomed(name, file)`
// holds, once the listing is done with. Only names of ours are looked at further: the
// temporary folder may hold many files.
template <class Ours, class Doomed>
void remove_files_of(const std::filesystem::path& dir, Ours ours, Doomed doomed)
{
    auto listing = platform::list_dir(dir);
    if (!listing)
        return;
    std::vector<std::filesystem::path> files;
    while (auto entry = (*listing)->next()) {
        if (!*entry)
            continue;
        const std::filesystem::path file = **entry;
        const std::string name = platform::path_to_utf8(file.filename());
        if (!ours(name))
            continue;
        const auto meta = (*listing)->entry_meta(file);
        if (meta && meta->is_regular_file && doomed(name, file))
            files.push_back(file);
    }
    listing->reset();
    for (const auto& file : files)
        (void)platform::remove_file(file);
}

} // namespace

std::optional<TempFileName> parse_temp_file_name(std::string_view name)
{
    if (name.starts_with(SESSION_PREFIX) && name.ends_with(SESSION_SUFFIX) &&
        name.size() > SESSION_PREFIX.size() + SESSION_SUFFIX.size()) {
        const auto pid = parse_pid(name.substr(SESSION_PREFIX.size(), name.size() - SESSION_PREFIX.size() - SESSION_SUFFIX.size()));
        if (!pid)
            return std::nullopt;
        return TempFileName{pid};
    }
    if (name.starts_with(CONFIG_PREFIX)) {
        const auto fields = digit_fields(name.substr(CONFIG_PREFIX.size()));
        if (!fields || fields->size() < 2 || fields->size() > 3)
            return std::nullopt;
        if (fields->size() == 2)
            return TempFileName{std::nullopt};
        const auto pid = parse_pid(fields->front());
        if (!pid)
            return std::nullopt;
        return TempFileName{pid};
    }
    return std::nullopt;
}

bool is_temp_archive_name(std::string_view name)
{
    constexpr std::string_view prefix = "vano_duvid_";
    constexpr std::string_view suffix = ".zip";
    return name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix) &&
           all_digits(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()));
}

void remove_leftover_config_files()
{
    const std::uint64_t now_ns = platform::unix_epoch_ns();
    const std::uint32_t self = platform::process_id();
    const auto ours = [](const std::string& text) { return parse_temp_file_name(text).has_value(); };
    remove_files_of(config::config_dir(), ours, [&](const std::string& text, const std::filesystem::path& file) {
        const auto name = parse_temp_file_name(text);
        const auto pid = name->writer_pid;
        const bool writer_done = pid && (*pid == self || !platform::process_running(*pid));
        return writer_done || is_older_than(file, now_ns, LEFTOVER_STALE_SECS);
    });
}

void remove_leftover_archives()
{
    const std::uint64_t now_ns = platform::unix_epoch_ns();
    remove_files_of(platform::temp_dir(), is_temp_archive_name,
                    [&](const std::string&, const std::filesystem::path& file) {
                        return is_older_than(file, now_ns, LEFTOVER_ARCHIVE_STALE_SECS);
                    });
}

void remove_leftover_temp_files()
{
    remove_leftover_config_files();
    remove_leftover_archives();
}

} // namespace app
