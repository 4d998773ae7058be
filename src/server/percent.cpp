#include "server/percent.h"

#include "core/hex.h"
#include "core/utf8.h"

namespace server {
namespace {

int hex_value(char c) { return core::hex_digit_value(c); }

} // namespace

std::string percent_decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string decode_query_component(std::string_view text)
{
    std::string decoded = percent_decode(text);
    if (core::is_valid_utf8(decoded))
        return decoded;
    return std::string(text);
}

} // namespace server
