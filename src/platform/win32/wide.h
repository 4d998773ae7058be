#pragma once
// Conversions between UTF-8 text and the wide strings of the Windows API.
// Header of the win32 implementation folder only.

#include "core/utf8.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace platform::win32 {

inline std::wstring widen(std::string_view text)
{
    const auto u16 = core::utf8_to_utf16(text);
    return std::wstring(u16.begin(), u16.end());
}

inline std::string narrow(std::wstring_view text)
{
    return core::utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

} // namespace platform::win32
