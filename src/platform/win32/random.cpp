#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/random.h"
#include "platform/os_error.h"

#include <windows.h>
#include <bcrypt.h>

namespace platform {

core::Result<void> fill_os_random(void* out, std::size_t size)
{
    auto* p = static_cast<unsigned char*>(out);
    while (size > 0) {
        const ULONG chunk = size > 0x10000000 ? 0x10000000UL : static_cast<ULONG>(size);
        const NTSTATUS status = BCryptGenRandom(nullptr, p, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0)
            return core::fail("BCryptGenRandom failed (NTSTATUS " + std::to_string(static_cast<unsigned long>(status)) + ")");
        p += chunk;
        size -= chunk;
    }
    return core::ok();
}

} // namespace platform
