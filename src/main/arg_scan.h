#pragma once
// The command-line scan: switches, skipped launch arguments and the path list.

#include <filesystem>
#include <string>
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
// and no equal path (config::same_path_components) is listed.
[[nodiscard]] ScannedArgs scan_arguments(const std::vector<std::string>& args);

// The candidate text for one argument: a drive letter, a colon and a double quote is that
// drive's root. Explorer quotes "%V" as "C:\", and the Windows command-line rules read its
// backslash as escaping the closing quote. Anything else comes back unchanged.
[[nodiscard]] std::string repair_drive_root(std::string arg);

} // namespace app
