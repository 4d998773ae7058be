#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/args.h"

namespace platform {

// The POSIX entry point passes argv itself; nothing to re-read here.
std::vector<std::string> command_line_args() { return {}; }

} // namespace platform
