#pragma once
// Percent-decoding of URL query components.

#include <string>
#include <string_view>

namespace server {

// Every "%" followed by two hexadecimal digits becomes the byte of that value; any other
// "%" stays as it is, and "+" stays "+" (it is not a space). The result may be any bytes.
[[nodiscard]] std::string percent_decode(std::string_view text);

// percent_decode of `text` when that gives valid UTF-8, else `text` unchanged.
[[nodiscard]] std::string decode_query_component(std::string_view text);

} // namespace server
