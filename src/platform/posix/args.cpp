#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/args.h"

namespace platform {

// The POSIX entry point passes argv itself; nothing to re-read here.
std::vector<std::string> command_line_args() { return {}; }

std::vector<std::string> split_command_line(std::string_view) { return {}; }

} // namespace platform
