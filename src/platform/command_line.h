#pragma once
// Windows command-line quoting, kept portable so that both builds test it.

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The command line that CreateProcessW gets for `program` and `args` (UTF-8 in, UTF-8
// out): the program name between double quotes, then each argument after one blank. An
// argument that is empty or holds a blank or a tab is put between double quotes; a double
// quote inside an argument gets a backslash before it, and the backslashes directly
// before such a quote or before the closing quote are doubled. Parsers that follow the
// Microsoft C runtime's rules (CommandLineToArgvW) give the arguments back unchanged.
[[nodiscard]] std::string join_command_line(std::string_view program, const std::vector<std::string>& args);

} // namespace platform
