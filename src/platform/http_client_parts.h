#pragma once
// Pieces that both HTTP client implementations share. Header of src/platform only.

#include "platform/http_client.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace platform::http_parts {

// ASCII letters compared without case, as HTTP compares header names and schemes.
inline bool equals_ignoring_case(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

inline bool starts_with_ignoring_case(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equals_ignoring_case(text.substr(0, prefix.size()), prefix);
}

inline std::uint64_t body_length(const HttpRequest& request)
{
    if (const auto* bytes = std::get_if<std::string>(&request.body))
        return bytes->size();
    if (const auto* stream = std::get_if<HttpStreamBody>(&request.body))
        return stream->length;
    return 0;
}

inline bool is_redirect_status(long code)
{
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// The failure of a streamed body whose reader ended before its declared length.
inline constexpr std::string_view body_ended_early = "the request body ended before its declared length";

} // namespace platform::http_parts
