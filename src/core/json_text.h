#pragma once
// Reading a whole text as one JSON value.

#include "core/result.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace core {

// The deepest nesting of arrays and objects that parse_json_text accepts.
inline constexpr std::size_t MAX_JSON_DEPTH = 128;

// What a UTF-8 byte-order mark at the start of the text means to a reader.
enum class ByteOrderMark { skipped, refused };

// A syntax error at byte `offset` of `text`, in the parser's own form.
[[nodiscard]] nlohmann::detail::parse_error json_syntax_error(std::string_view text, std::size_t offset,
                                                             std::string_view what);

// Feeds `text` to `sax` as one JSON value that only JSON white space may follow, up to the
// text's real end. False when it is not that: `sax` was told why through parse_error, or
// one of its own events refused. nlohmann's lexer takes a NUL byte for the end of its
// input, so on its own it would accept a value followed by a NUL and anything at all; a
// JSON text never holds a raw NUL (strings escape it, and it is no white space), so a NUL
// left over after a successful parse is a syntax error here.
template <class Sax>
[[nodiscard]] bool sax_parse_whole(std::string_view text, Sax* sax, ByteOrderMark bom)
{
    if (bom == ByteOrderMark::refused && text.starts_with("\xEF\xBB\xBF")) {
        (void)sax->parse_error(1, "\xEF", json_syntax_error(text, 0, "byte-order mark; expected JSON value"));
        return false;
    }
    if (!nlohmann::json::sax_parse(text, sax, nlohmann::json::input_format_t::json, /*strict=*/true))
        return false;
    const std::size_t nul = text.find('\0');
    if (nul == std::string_view::npos)
        return true;
    (void)sax->parse_error(nul + 1, std::string(1, '\0'),
                           json_syntax_error(text, nul, "NUL byte; expected end of input"));
    return false;
}

// The whole of `text` as one JSON value (see sax_parse_whole), nested at most
// MAX_JSON_DEPTH levels deep. Fails with the parser's description.
[[nodiscard]] Result<nlohmann::json> parse_json_text(std::string_view text, ByteOrderMark bom);

} // namespace core
