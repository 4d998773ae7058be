// The parts of the Unicode services that need no OS call.
#include "platform/unicode.h"

#include "core/utf8.h"
#include "platform/case_tables.h"

#include <algorithm>

namespace platform {

namespace {

template <std::size_t N>
char32_t map_by_runs(const detail::CaseRun (&runs)[N], char32_t c)
{
    const auto* run = std::upper_bound(std::begin(runs), std::end(runs), c,
                                       [](char32_t v, const detail::CaseRun& r) { return v < r.first; });
    if (run == std::begin(runs))
        return c;
    --run;
    if (c > run->last || (c - run->first) % static_cast<char32_t>(run->stride) != 0)
        return c;
    return static_cast<char32_t>(static_cast<int>(c) + run->delta);
}

} // namespace

std::string to_lower_full(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t c = core::decode_utf8(text, pos);
        // U+0130 is the one unconditional full mapping of SpecialCasing.txt that differs
        // from the simple one; the conditional and language-specific ones do not apply.
        if (c == 0x0130)
            out += "i\xCC\x87";
        else
            core::append_utf8(out, map_by_runs(detail::lower_runs, c));
    }
    return out;
}

std::string to_upper_simple(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();)
        core::append_utf8(out, map_by_runs(detail::upper_runs, core::decode_utf8(text, pos)));
    return out;
}

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
