#pragma once

#include <string>
#include <vector>

namespace platform {

// The process's arguments after the program name, as UTF-8. On Windows they come from
// the wide command line (an unpaired surrogate becomes U+FFFD).
std::vector<std::string> command_line_args();

} // namespace platform
