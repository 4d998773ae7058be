#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/random.h"
#include "platform/os_error.h"
#include "platform/win32/system_library.h"

#include <windows.h>
#include <bcrypt.h>

namespace platform {

namespace {

// bcrypt.dll is not on the KnownDLLs list: loaded from the system folder, never imported
// (see system_library.h).
core::Result<decltype(&::BCryptGenRandom)> load_gen_random()
{
    const HMODULE module = VANO_TRY(win32::load_system_library(L"bcrypt.dll"));
    decltype(&::BCryptGenRandom) gen_random = nullptr;
    VANO_TRY(win32::bind_function(gen_random, module, "BCryptGenRandom"));
    return gen_random;
}

} // namespace

core::Result<void> fill_os_random(void* out, std::size_t size)
{
    static const auto gen_random = load_gen_random();
    if (!gen_random)
        return core::fail("bcrypt.dll: " + gen_random.error());
    auto* p = static_cast<unsigned char*>(out);
    while (size > 0) {
        const ULONG chunk = size > 0x10000000 ? 0x10000000UL : static_cast<ULONG>(size);
        const NTSTATUS status = (*gen_random)(nullptr, p, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0)
            return core::fail("BCryptGenRandom failed (NTSTATUS " + std::to_string(static_cast<unsigned long>(status)) + ")");
        p += chunk;
        size -= chunk;
    }
    return core::ok();
}

} // namespace platform
