#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/clock.h"

#include <windows.h>

namespace platform {

std::uint32_t process_id() { return static_cast<std::uint32_t>(GetCurrentProcessId()); }

bool process_running(std::uint32_t pid)
{
    if (pid == 0)
        return false;
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (h == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED; // it exists, only not for us
    DWORD code = 0;
    const bool running = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
    CloseHandle(h);
    return running;
}

} // namespace platform
