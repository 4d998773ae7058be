#include "core/json_text.h"

#include <algorithm>

namespace core {

namespace {

// nlohmann's DOM builder with a nesting limit: the parse stops at the first array or
// object that would open level MAX_JSON_DEPTH + 1.
class DepthLimitedSax {
public:
    using Json = nlohmann::json;

    explicit DepthLimitedSax(Json& out) : m_dom(out, false) {}

    bool null() { return m_dom.null(); }
    bool boolean(bool v) { return m_dom.boolean(v); }
    bool number_integer(Json::number_integer_t v) { return m_dom.number_integer(v); }
    bool number_unsigned(Json::number_unsigned_t v) { return m_dom.number_unsigned(v); }
    bool number_float(Json::number_float_t v, const std::string& s) { return m_dom.number_float(v, s); }
    bool string(std::string& v) { return m_dom.string(v); }
    bool binary(Json::binary_t& v) { return m_dom.binary(v); }
    bool key(std::string& v) { return m_dom.key(v); }
    bool start_object(std::size_t n) { return open() && m_dom.start_object(n); }
    bool end_object() { return close() && m_dom.end_object(); }
    bool start_array(std::size_t n) { return open() && m_dom.start_array(n); }
    bool end_array() { return close() && m_dom.end_array(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e)
    {
        m_error = e.what();
        return false;
    }

    [[nodiscard]] std::string error() const
    {
        return m_error.empty() ? "JSON nesting is deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels" : m_error;
    }

private:
    bool open() { return ++m_depth <= MAX_JSON_DEPTH; }
    bool close()
    {
        --m_depth;
        return true;
    }

    nlohmann::detail::json_sax_dom_parser<Json> m_dom;
    std::size_t m_depth = 0;
    std::string m_error;
};

} // namespace

nlohmann::detail::parse_error json_syntax_error(std::string_view text, std::size_t offset, std::string_view what)
{
    const std::string_view before = text.substr(0, offset);
    const std::size_t line_feed = before.rfind('\n');
    const std::size_t line_start = line_feed == std::string_view::npos ? 0 : line_feed + 1;
    nlohmann::detail::position_t at;
    at.chars_read_total = offset + 1;
    at.chars_read_current_line = offset - line_start + 1;
    at.lines_read = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    return nlohmann::detail::parse_error::create(101, at, "syntax error while parsing value - " + std::string(what),
                                                 nullptr);
}

Result<nlohmann::json> parse_json_text(std::string_view text, ByteOrderMark bom)
{
    nlohmann::json value;
    DepthLimitedSax sax(value);
    if (!sax_parse_whole(text, &sax, bom))
        return fail(sax.error());
    return value;
}

} // namespace core
