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

std::string to_lower_full(std::string_view text)
{
    // U+0130 is the one unconditional full mapping that differs from the simple one; the
    // system's lower-casing gives only the simple mapping, so it is spelled out first.
    std::string prepared;
    prepared.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t c = core::decode_utf8(text, pos);
        if (c == 0x0130)
            prepared += "i\xCC\x87";
        else
            core::append_utf8(prepared, c);
    }
    std::wstring wide = win32::widen(prepared);
    if (wide.empty())
        return {};
    const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.data(), static_cast<int>(wide.size()),
                                nullptr, 0, nullptr, nullptr, 0);
    if (n <= 0)
        return prepared;
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr, 0) <= 0)
        return prepared;
    return win32::narrow(out);
}

std::string path_to_utf8(const std::filesystem::path& path) { return win32::narrow(path.native()); }

std::filesystem::path path_from_utf8(std::string_view text) { return std::filesystem::path(win32::widen(text)); }

} // namespace platform
