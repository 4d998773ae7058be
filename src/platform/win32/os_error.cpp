#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/os_error.h"

#include "platform/win32/wide.h"

#include <windows.h>

namespace platform {

namespace {

std::string system_message(DWORD code)
{
    wchar_t* buf = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    if (n == 0 || !buf)
        return "Unknown error";
    std::wstring msg(buf, n);
    LocalFree(buf);
    // System messages end in ".\r\n"; the suffix follows the sentence directly.
    while (!msg.empty() && (msg.back() == L'\r' || msg.back() == L'\n' || msg.back() == L' ' || msg.back() == L'.'))
        msg.pop_back();
    if (msg.empty())
        return "Unknown error";
    return win32::narrow(msg);
}

} // namespace

std::string os_error_text(int code)
{
    return system_message(static_cast<DWORD>(code)) + " (os error " + std::to_string(code) + ")";
}

std::string last_os_error_text() { return os_error_text(static_cast<int>(GetLastError())); }

std::string os_error_text(const std::error_code& ec)
{
    if (ec.category() == std::system_category())
        return os_error_text(ec.value());
    // The C runtime's errno values have no system message of their own.
    return ec.message() + " (os error " + std::to_string(ec.value()) + ")";
}

} // namespace platform
