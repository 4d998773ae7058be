#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/stdio.h"

#include <windows.h>

namespace platform {

namespace {

bool write_all(DWORD which, std::string_view bytes)
{
    HANDLE h = GetStdHandle(which);
    if (!h || h == INVALID_HANDLE_VALUE)
        return false;
    while (!bytes.empty()) {
        const DWORD want = bytes.size() < 0x10000 ? static_cast<DWORD>(bytes.size()) : 0x10000;
        DWORD put = 0;
        if (!WriteFile(h, bytes.data(), want, &put, nullptr) || put == 0)
            return false;
        bytes.remove_prefix(put);
    }
    return true;
}

} // namespace

bool write_stdout(std::string_view bytes) { return write_all(STD_OUTPUT_HANDLE, bytes); }
bool write_stderr(std::string_view bytes) { return write_all(STD_ERROR_HANDLE, bytes); }

} // namespace platform
