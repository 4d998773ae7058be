#pragma once
// Unicode services: normalisation, case mapping, white space, and path text.

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// NFC of UTF-8 text (utf8proc on Linux, NormalizeString on Windows). Ill-formed input is
// made lossy first; on an internal failure the input comes back unchanged.
[[nodiscard]] std::string nfc(std::string_view text);

// Lower case by full Unicode case mapping ("İ" gives "i̇", "ẞ" gives "ß").
[[nodiscard]] std::string to_lower_full(std::string_view text);

// Upper case by the simple mapping, one character for one ("ß" stays, "ς" and "σ" give
// "Σ"), as Windows compares file names.
[[nodiscard]] std::string to_upper_simple(std::string_view text);

// True for the characters with the Unicode White_Space property.
[[nodiscard]] bool is_unicode_white_space(char32_t c);

// `text` without Unicode White_Space characters at either end.
[[nodiscard]] std::string trim_unicode_ws(std::string_view text);

// The path as UTF-8 text; what cannot be decoded becomes U+FFFD.
[[nodiscard]] std::string path_to_utf8(const std::filesystem::path& path);

// The path that UTF-8 text names (on Windows through UTF-16, never the ANSI code page).
[[nodiscard]] std::filesystem::path path_from_utf8(std::string_view text);

} // namespace platform
