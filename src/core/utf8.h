#pragma once
// UTF-8 and UTF-16 conversions shared by every module. Pure functions; no OS calls.

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

inline constexpr char32_t replacement_char = U'\uFFFD';

// True when `text` is well-formed UTF-8 (no overlongs, no surrogates, at most U+10FFFF).
[[nodiscard]] bool is_valid_utf8(std::string_view text);

// `text` with every ill-formed sequence replaced by U+FFFD (one per maximal subpart,
// as the Unicode standard recommends).
[[nodiscard]] std::string lossy_utf8(std::string_view text);

// Decodes one scalar value at `pos` and advances it; ill-formed input gives U+FFFD.
char32_t decode_utf8(std::string_view text, std::size_t& pos);

// Appends the UTF-8 form of scalar value `c`.
void append_utf8(std::string& out, char32_t c);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string utf16_to_utf8(std::u16string_view text);

// UTF-8 to UTF-16; ill-formed input becomes U+FFFD.
[[nodiscard]] std::u16string utf8_to_utf16(std::string_view text);

} // namespace core
