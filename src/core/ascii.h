#pragma once
// ASCII-only case folding, for protocol texts (header names, URL schemes and hosts) whose
// case rules know no other letters.

#include <string>
#include <string_view>

namespace core {

// `c` turned into a-z when it is one of A-Z; every other byte as it is.
[[nodiscard]] constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// `text` with A-Z turned into a-z; every other byte as it is.
[[nodiscard]] inline std::string ascii_lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = ascii_lower(c);
    return out;
}

} // namespace core
