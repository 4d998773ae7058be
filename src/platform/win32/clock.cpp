#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/clock.h"

#include <windows.h>

namespace platform {

std::uint32_t process_id() { return static_cast<std::uint32_t>(GetCurrentProcessId()); }

} // namespace platform
