#pragma once
// The command-line scan: switches, skipped launch arguments and the path list.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace app {

enum class OneShot { none, install, uninstall };

struct ScannedArgs {
    // Set by the first --install or --uninstall; the other fields are then empty.
    OneShot one_shot = OneShot::none;
    bool stdio_port = false;
    // Existing paths made absolute against the current folder, in order of first
    // appearance, without repeats.
    std::vector<std::filesystem::path> paths;
};

// Scans the arguments (program name excluded). A candidate is made absolute against the
// current folder, so that a running instance elsewhere reads it as the same file; it
// enters the path list only if the file system reports metadata for it (links followed)
// and no equal path is listed.
[[nodiscard]] ScannedArgs scan_arguments(const std::vector<std::string>& args);

// The candidate text for one argument: a drive letter, a colon and a double quote is that
// drive's root. Explorer quotes "%V" as "C:\", and the Windows command-line rules read its
// backslash as escaping the closing quote. Anything else comes back unchanged.
[[nodiscard]] std::string repair_drive_root(std::string arg);

// True when the two path texts name the same components: '/' and '\' both separate,
// repeated and trailing separators do not count, nor does "." except as the first
// component of a path without root, and the drive letter's case does not count.
// Nothing else is folded; ".." and links are not resolved.
[[nodiscard]] bool same_path_components(std::string_view a, std::string_view b);

// A text that is equal for two paths exactly when same_path_components holds, for
// hashing.
[[nodiscard]] std::string path_component_key(std::string_view text);

} // namespace app
