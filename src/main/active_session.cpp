#include "main/active_session.h"

#include "core/hex.h"
#include "core/utf8.h"

#include <algorithm>

namespace app {

namespace {

// Nesting allowed inside a skipped value; deeper input is refused rather than recursed.
constexpr int max_skip_depth = 128;

constexpr EpochMs u128_max = ~EpochMs{0};

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    std::optional<ActiveSession> parse_document()
    {
        if (!core::is_valid_utf8(m_text))
            return std::nullopt;
        skip_ws();
        std::optional<ActiveSession> session;
        if (peek() == '{')
            session = parse_object_form();
        else if (peek() == '[')
            session = parse_array_form();
        if (!session)
            return std::nullopt;
        skip_ws();
        if (m_pos != m_text.size())
            return std::nullopt;
        return session;
    }

private:
    char peek() const { return m_pos < m_text.size() ? m_text[m_pos] : '\0'; }
    bool at_end() const { return m_pos >= m_text.size(); }

    void skip_ws()
    {
        while (!at_end()) {
            const char c = m_text[m_pos];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
                break;
            ++m_pos;
        }
    }

    bool consume(char c)
    {
        skip_ws();
        if (peek() != c)
            return false;
        ++m_pos;
        return true;
    }

    std::optional<ActiveSession> parse_object_form()
    {
        ++m_pos; // '{'
        std::optional<std::uint16_t> port;
        std::optional<std::string> token;
        std::optional<EpochMs> created;
        skip_ws();
        if (peek() == '}') {
            ++m_pos;
            return std::nullopt; // every key is missing
        }
        for (;;) {
            skip_ws();
            std::string key;
            if (!parse_string(&key, Surrogates::strict) || !consume(':'))
                return std::nullopt;
            skip_ws();
            if (key == "port") {
                if (port || !(port = parse_port()))
                    return std::nullopt;
            } else if (key == "token") {
                if (token)
                    return std::nullopt;
                std::string value;
                if (!parse_string(&value, Surrogates::strict))
                    return std::nullopt;
                token = std::move(value);
            } else if (key == "created_epoch_ms") {
                if (created || !(created = parse_integer(u128_max)))
                    return std::nullopt;
            } else if (!skip_value(0)) {
                return std::nullopt;
            }
            skip_ws();
            if (peek() == ',') {
                ++m_pos;
                continue;
            }
            if (peek() != '}')
                return std::nullopt;
            ++m_pos;
            break;
        }
        if (!port || !token || !created)
            return std::nullopt;
        return ActiveSession{*port, std::move(*token), *created};
    }

    std::optional<ActiveSession> parse_array_form()
    {
        ++m_pos; // '['
        skip_ws();
        const auto port = parse_port();
        if (!port || !consume(','))
            return std::nullopt;
        skip_ws();
        std::string token;
        if (!parse_string(&token, Surrogates::strict) || !consume(','))
            return std::nullopt;
        skip_ws();
        const auto created = parse_integer(u128_max);
        if (!created || !consume(']'))
            return std::nullopt;
        return ActiveSession{*port, std::move(token), *created};
    }

    std::optional<std::uint16_t> parse_port()
    {
        const auto value = parse_integer(0xFFFF);
        if (!value)
            return std::nullopt;
        return static_cast<std::uint16_t>(*value);
    }

    // An unsigned JSON integer no greater than `limit`. A sign, fraction or exponent is
    // an error, as is a leading zero (JSON itself forbids it).
    std::optional<EpochMs> parse_integer(EpochMs limit)
    {
        if (!is_digit(peek()))
            return std::nullopt;
        EpochMs value = 0;
        if (peek() == '0') {
            ++m_pos;
        } else {
            while (is_digit(peek())) {
                const unsigned digit = static_cast<unsigned>(peek() - '0');
                if (value > (limit - digit) / 10)
                    return std::nullopt;
                value = value * 10 + digit;
                ++m_pos;
            }
        }
        const char next = peek();
        if (is_digit(next) || next == '.' || next == 'e' || next == 'E')
            return std::nullopt;
        return value;
    }

    static bool is_digit(char c) { return c >= '0' && c <= '9'; }
    static int hex_value(char c) { return core::hex_digit_value(c); }

    std::optional<char16_t> parse_hex4()
    {
        if (m_pos + 4 > m_text.size())
            return std::nullopt;
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = hex_value(m_text[m_pos++]);
            if (h < 0)
                return std::nullopt;
            value = value * 16 + static_cast<unsigned>(h);
        }
        return static_cast<char16_t>(value);
    }

    // Decoded text needs whole surrogate pairs; a skipped string only needs valid syntax.
    enum class Surrogates { strict, lenient };

    // A JSON string at the current position; its decoded text goes to `out` when given.
    bool parse_string(std::string* out, Surrogates surrogates)
    {
        if (peek() != '"')
            return false;
        ++m_pos;
        for (;;) {
            if (at_end())
                return false;
            const char c = m_text[m_pos++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                if (out)
                    out->push_back(c);
                continue;
            }
            if (at_end())
                return false;
            const char e = m_text[m_pos++];
            char plain = 0;
            switch (e) {
            case '"': plain = '"'; break;
            case '\\': plain = '\\'; break;
            case '/': plain = '/'; break;
            case 'b': plain = '\b'; break;
            case 'f': plain = '\f'; break;
            case 'n': plain = '\n'; break;
            case 'r': plain = '\r'; break;
            case 't': plain = '\t'; break;
            case 'u': {
                const auto unit = parse_hex4();
                if (!unit)
                    return false;
                char32_t scalar = *unit;
                if (*unit >= 0xD800 && *unit <= 0xDBFF) {
                    const std::size_t save = m_pos;
                    std::optional<char16_t> low;
                    if (m_text.substr(m_pos, 2) == "\\u") {
                        m_pos += 2;
                        low = parse_hex4();
                    }
                    if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
                        scalar = 0x10000 + ((char32_t{*unit} - 0xD800) << 10) + (char32_t{*low} - 0xDC00);
                    } else if (surrogates == Surrogates::strict) {
                        return false;
                    } else {
                        m_pos = save; // the next escape is read on its own
                        continue;
                    }
                } else if (*unit >= 0xDC00 && *unit <= 0xDFFF) {
                    if (surrogates == Surrogates::strict)
                        return false;
                    continue;
                }
                if (out)
                    core::append_utf8(*out, scalar);
                continue;
            }
            default:
                return false;
            }
            if (out)
                out->push_back(plain);
        }
    }

    // Any JSON number: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    bool skip_number()
    {
        if (peek() == '-')
            ++m_pos;
        if (peek() == '0') {
            ++m_pos;
        } else if (is_digit(peek())) {
            while (is_digit(peek()))
                ++m_pos;
        } else {
            return false;
        }
        if (peek() == '.') {
            ++m_pos;
            if (!is_digit(peek()))
                return false;
            while (is_digit(peek()))
                ++m_pos;
        }
        if (peek() == 'e' || peek() == 'E') {
            ++m_pos;
            if (peek() == '+' || peek() == '-')
                ++m_pos;
            if (!is_digit(peek()))
                return false;
            while (is_digit(peek()))
                ++m_pos;
        }
        return true;
    }

    bool skip_literal(std::string_view word)
    {
        if (m_text.substr(m_pos, word.size()) != word)
            return false;
        m_pos += word.size();
        return true;
    }

    // Skips one JSON value of any kind, checking its syntax.
    bool skip_value(int depth)
    {
        skip_ws();
        switch (peek()) {
        case '"':
            return parse_string(nullptr, Surrogates::lenient);
        case 't':
            return skip_literal("true");
        case 'f':
            return skip_literal("false");
        case 'n':
            return skip_literal("null");
        case '[':
        case '{':
            break;
        default:
            return skip_number();
        }
        if (depth + 1 > max_skip_depth)
            return false;
        const bool is_object = peek() == '{';
        const char close = is_object ? '}' : ']';
        ++m_pos;
        skip_ws();
        if (peek() == close) {
            ++m_pos;
            return true;
        }
        for (;;) {
            if (is_object) {
                skip_ws();
                if (!parse_string(nullptr, Surrogates::lenient) || !consume(':'))
                    return false;
            }
            if (!skip_value(depth + 1))
                return false;
            skip_ws();
            if (peek() == ',') {
                ++m_pos;
                continue;
            }
            if (peek() != close)
                return false;
            ++m_pos;
            return true;
        }
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

void append_json_string(std::string& out, std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out.push_back(hex[(c >> 4) & 0xF]);
                out.push_back(hex[c & 0xF]);
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
}

} // namespace

std::string u128_to_decimal(EpochMs value)
{
    std::string digits;
    do {
        digits.push_back(static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    std::reverse(digits.begin(), digits.end());
    return digits;
}

std::string serialize_active_session(const ActiveSession& session)
{
    std::string out = "{\"port\":";
    out += std::to_string(session.port);
    out += ",\"token\":";
    append_json_string(out, session.token);
    out += ",\"created_epoch_ms\":";
    out += u128_to_decimal(session.created_epoch_ms);
    out += '}';
    return out;
}

std::optional<ActiveSession> parse_active_session(std::string_view text)
{
    return Parser(text).parse_document();
}

} // namespace app
