// The parts of the Unicode services that need no OS call.
#include "platform/unicode.h"

#include "core/utf8.h"

namespace platform {

bool is_unicode_white_space(char32_t c)
{
    // PropList.txt, White_Space: 25 code points.
    switch (c) {
    case 0x0009: case 0x000A: case 0x000B: case 0x000C: case 0x000D:
    case 0x0020: case 0x0085: case 0x00A0: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

std::string trim_unicode_ws(std::string_view text)
{
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t next = begin;
        if (!is_unicode_white_space(core::decode_utf8(text, next)))
            break;
        begin = next;
    }
    // Only the last character that is not white space matters for the end.
    std::size_t end = begin;
    for (std::size_t pos = begin; pos < text.size();) {
        const char32_t c = core::decode_utf8(text, pos);
        if (!is_unicode_white_space(c))
            end = pos;
    }
    return std::string(text.substr(begin, end - begin));
}

} // namespace platform
