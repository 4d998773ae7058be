#include "core/utf8.h"

namespace core {

namespace {

// Length of the valid sequence starting at `pos`, or 0 when it is ill-formed. On an
// ill-formed sequence `bad_len` is the length of its maximal subpart (at least 1).
std::size_t sequence_length(std::string_view s, std::size_t pos, std::size_t& bad_len, char32_t& value)
{
    const auto b0 = static_cast<unsigned char>(s[pos]);
    bad_len = 1;
    if (b0 < 0x80) {
        value = b0;
        return 1;
    }
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        value = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        value = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0;
        else if (b0 == 0xED)
            hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        value = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90;
        else if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i <= need; ++i) {
        if (pos + i >= s.size())
            return 0;
        const auto b = static_cast<unsigned char>(s[pos + i]);
        const unsigned char l = i == 1 ? lo : 0x80;
        const unsigned char h = i == 1 ? hi : 0xBF;
        if (b < l || b > h)
            return 0;
        value = (value << 6) | (b & 0x3F);
        bad_len = i + 1;
    }
    return need + 1;
}

} // namespace

bool is_valid_utf8(std::string_view text)
{
    std::size_t pos = 0, bad = 0;
    char32_t v = 0;
    while (pos < text.size()) {
        const auto n = sequence_length(text, pos, bad, v);
        if (n == 0)
            return false;
        pos += n;
    }
    return true;
}

char32_t decode_utf8(std::string_view text, std::size_t& pos)
{
    std::size_t bad = 0;
    char32_t v = 0;
    const auto n = sequence_length(text, pos, bad, v);
    if (n == 0) {
        pos += bad;
        return replacement_char;
    }
    pos += n;
    return v;
}

std::string lossy_utf8(std::string_view text)
{
    if (is_valid_utf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t bad = 0;
        char32_t v = 0;
        const auto n = sequence_length(text, pos, bad, v);
        if (n == 0) {
            append_utf8(out, replacement_char);
            pos += bad;
        } else {
            out.append(text.substr(pos, n));
            pos += n;
        }
    }
    return out;
}

void append_utf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string utf16_to_utf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = replacement_char;
        }
        append_utf8(out, c);
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char32_t c = decode_utf8(text, pos);
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

} // namespace core
