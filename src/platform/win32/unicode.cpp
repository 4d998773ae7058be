#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/unicode.h"

#include "core/utf8.h"
#include "platform/win32/wide.h"

#include <windows.h>

namespace platform {

std::string nfc(std::string_view text)
{
    const std::wstring input = win32::widen(text);
    if (input.empty())
        return {};
    int capacity = NormalizeString(NormalizationC, input.data(), static_cast<int>(input.size()), nullptr, 0);
    // The first answer is an estimate; a short buffer tells the size it needs.
    for (int attempt = 0; attempt < 8 && capacity > 0; ++attempt) {
        std::wstring out(static_cast<std::size_t>(capacity), L'\0');
        const int n = NormalizeString(NormalizationC, input.data(), static_cast<int>(input.size()), out.data(), capacity);
        if (n > 0) {
            out.resize(static_cast<std::size_t>(n));
            return win32::narrow(out);
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;
        capacity = n < 0 ? -n : capacity * 2;
    }
    return core::lossy_utf8(text);
}

std::string path_to_utf8(const std::filesystem::path& path) { return win32::narrow(path.native()); }

std::filesystem::path path_from_utf8(std::string_view text) { return std::filesystem::path(win32::widen(text)); }

} // namespace platform
