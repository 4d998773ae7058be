#include "uploader/error_text.h"

#include "core/ascii.h"
#include "core/utf8.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace uploader {

namespace {

// Position of `needle` (lower-case ASCII) in `text` from `from`, letters compared without case.
std::size_t find_ignoring_case(std::string_view text, std::string_view needle, std::size_t from = 0)
{
    if (needle.size() > text.size())
        return std::string_view::npos;
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < needle.size() && core::ascii_lower(text[i + k]) == needle[k])
            ++k;
        if (k == needle.size())
            return i;
    }
    return std::string_view::npos;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Runs of white space (ASCII and U+00A0, which &nbsp; gives) become one blank; none at the ends.
std::string collapse_white_space(std::string_view text)
{
    std::string out;
    bool pending = false;
    for (std::size_t i = 0; i < text.size();) {
        if (is_blank(text[i])) {
            pending = true;
            ++i;
        } else if (text.substr(i, 2) == "\xC2\xA0") {
            pending = true;
            i += 2;
        } else {
            if (pending && !out.empty())
                out += ' ';
            pending = false;
            out += text[i++];
        }
    }
    return out;
}

// HTML character references (the named ones error pages use, and numeric ones).
std::string decode_references(std::string_view text)
{
    struct Named {
        std::string_view name;
        std::string_view text;
    };
    static constexpr Named named[] = {{"amp", "&"}, {"lt", "<"},   {"gt", ">"},          {"quot", "\""},
                                      {"apos", "'"}, {"nbsp", "\xC2\xA0"}, {"copy", "\xC2\xA9"}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto semi = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
        if (semi == std::string_view::npos || semi - i > 10) {
            out += text[i++];
            continue;
        }
        const std::string_view ref = text.substr(i + 1, semi - i - 1);
        bool done = false;
        if (ref.starts_with('#') && ref.size() > 1) {
            const bool hex = ref[1] == 'x' || ref[1] == 'X';
            const std::string_view digits = ref.substr(hex ? 2 : 1);
            std::uint32_t code = 0;
            const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
            if (ec == std::errc() && end == digits.data() + digits.size() && !digits.empty()) {
                const bool scalar = code != 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
                core::append_utf8(out, scalar ? char32_t(code) : core::replacement_char);
                done = true;
            }
        } else {
            for (const auto& n : named)
                if (ref == n.name) {
                    out += n.text;
                    done = true;
                }
        }
        if (done)
            i = semi + 1;
        else
            out += text[i++];
    }
    return out;
}

// The text of markup: tags become blanks; comments, scripts and styles go with their content.
std::string markup_text(std::string_view html)
{
    std::string out;
    for (std::size_t i = 0; i < html.size();) {
        if (html[i] != '<') {
            out += html[i++];
            continue;
        }
        std::size_t end = std::string_view::npos;
        if (html.substr(i, 4) == "<!--") {
            end = html.find("-->", i + 4);
            end = end == std::string_view::npos ? end : end + 3;
        } else if (find_ignoring_case(html.substr(i, 7), "<script") == 0 || find_ignoring_case(html.substr(i, 6), "<style") == 0) {
            const std::string_view close = find_ignoring_case(html.substr(i, 7), "<script") == 0 ? "</script" : "</style";
            end = find_ignoring_case(html, close, i + 1);
            end = end == std::string_view::npos ? end : html.find('>', end);
            end = end == std::string_view::npos ? end : end + 1;
        } else {
            end = html.find('>', i);
            end = end == std::string_view::npos ? end : end + 1;
        }
        if (end == std::string_view::npos)
            break; // a tag cut off at the end of what was read
        out += ' ';
        i = end;
    }
    return decode_references(out);
}

// The text of the first <title> element, or nothing.
std::string title_text(std::string_view html)
{
    const auto open = find_ignoring_case(html, "<title");
    if (open == std::string_view::npos)
        return {};
    const auto start = html.find('>', open);
    if (start == std::string_view::npos)
        return {};
    const auto close = find_ignoring_case(html, "</title", start);
    if (close == std::string_view::npos)
        return {};
    return collapse_white_space(decode_references(html.substr(start + 1, close - start - 1)));
}

} // namespace

std::string shortened(std::string_view text)
{
    std::size_t pos = 0;
    for (std::size_t n = 0; n < max_error_text_chars && pos < text.size(); ++n)
        (void)core::decode_utf8(text, pos);
    if (pos >= text.size())
        return std::string(text);
    return std::string(text.substr(0, pos)) + "…";
}

std::string error_body_summary(std::string_view text)
{
    const auto first = std::ranges::find_if_not(text, is_blank);
    if (first != text.end() && *first == '<') {
        if (auto title = title_text(text); !title.empty())
            return shortened(title);
        return shortened(collapse_white_space(markup_text(text)));
    }
    return shortened(collapse_white_space(text));
}

} // namespace uploader
