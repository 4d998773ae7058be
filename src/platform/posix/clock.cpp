#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/clock.h"

#include <unistd.h>

namespace platform {

std::uint32_t process_id() { return static_cast<std::uint32_t>(::getpid()); }

} // namespace platform
