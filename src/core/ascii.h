#pragma once
// ASCII-only case folding, for protocol texts (header names, URL schemes and hosts) whose
// case rules know no other letters.

#include <string>
#include <string_view>

namespace core {

// `text` with A-Z turned into a-z; every other byte as it is.
[[nodiscard]] inline std::string ascii_lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace core
