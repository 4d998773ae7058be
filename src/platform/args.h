#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The process's arguments after the program name, as UTF-8. On Windows they come from
// the wide command line (an unpaired surrogate becomes U+FFFD).
std::vector<std::string> command_line_args();

// The arguments that Windows' own command-line splitting finds in `command_line` (UTF-8),
// the program name first. POSIX, whose processes receive their arguments split, has no
// such splitting and gives nothing.
std::vector<std::string> split_command_line(std::string_view command_line);

} // namespace platform
