#pragma once
// Temporary files that a crashed or killed process left in the configuration folder.

#include <cstdint>
#include <optional>
#include <string_view>

namespace app {

// A temporary file at least this old belongs to no save still running: a save writes a
// few hundred bytes and renames them at once.
inline constexpr std::int64_t LEFTOVER_STALE_SECS = 600;

struct TempFileName {
    std::optional<std::uint32_t> writer_pid; // nothing where the name holds none
};

// Recognises the temporary names that the program writes in the configuration folder:
// "active_session.<pid>.tmp" and "desktop_config.json.tmp-<pid>-<clock>-<n>" (earlier
// builds wrote "desktop_config.json.tmp-<clock>-<n>", without the id). Numbers are
// decimal digits; any other name gives nothing.
[[nodiscard]] std::optional<TempFileName> parse_temp_file_name(std::string_view name);

// An archive this old is no running job's: packing keeps writing it, and the upload opens
// it as soon as packing ends (once open, removing its name disturbs nothing).
inline constexpr std::int64_t LEFTOVER_ARCHIVE_STALE_SECS = 24 * 3600;

// True for the temporary archive's name, "vano_duvid_<n>.zip" with <n> decimal digits.
[[nodiscard]] bool is_temp_archive_name(std::string_view name);

// Removes the plain files of the configuration folder that parse_temp_file_name
// recognises and whose writer is gone or is this process, or that are older than
// LEFTOVER_STALE_SECS. This process must not be saving anything meanwhile: run it before
// serving. Nothing else is touched; failures are ignored.
void remove_leftover_config_files();

// Removes the temporary archives of the temporary folder older than
// LEFTOVER_ARCHIVE_STALE_SECS; safe while a job of this process runs. Failures are ignored.
void remove_leftover_archives();

// Both of the above.
void remove_leftover_temp_files();

} // namespace app
