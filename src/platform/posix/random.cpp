#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/random.h"
#include "platform/os_error.h"

#include <cerrno>
#include <sys/random.h>

namespace platform {

core::Result<void> fill_os_random(void* out, std::size_t size)
{
    auto* p = static_cast<unsigned char*>(out);
    while (size > 0) {
        const ssize_t n = ::getrandom(p, size, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return core::fail(last_os_error_text());
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return core::ok();
}

} // namespace platform
