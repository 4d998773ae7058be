#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/os_error.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::string os_error_text(int code)
{
    char buf[256];
    // GNU strerror_r: gives a pointer that may or may not be `buf`.
    const char* msg = ::strerror_r(code, buf, sizeof buf);
    return std::string(msg ? msg : "Unknown error") + " (os error " + std::to_string(code) + ")";
}

std::string last_os_error_text() { return os_error_text(errno); }

std::string os_error_text(const std::error_code& ec)
{
    // Both categories carry errno values here.
    return os_error_text(ec.value());
}

} // namespace platform
