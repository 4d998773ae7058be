#include "platform/http_client.h"

#include "platform/http_client_parts.h"

#include <algorithm>
#include <string_view>

namespace platform {
namespace {

// RFC 9110 section 5.6.2.
bool is_token(std::string_view text)
{
    constexpr std::string_view specials = "!#$%&'*+-.^_`|~";
    return !text.empty() && std::ranges::all_of(text, [&](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
               || specials.find(c) != std::string_view::npos;
    });
}

// A CR or LF would end the header early and start one of the value's own choosing.
bool is_field_value(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

} // namespace

core::Result<HttpResponse> HttpClient::send(HttpRequest request) const
{
    if (!is_token(request.method))
        return core::fail("invalid HTTP method");
    for (const auto& h : request.headers)
        if (!is_token(h.name) || !is_field_value(h.value))
            return core::fail("invalid HTTP header");
    // The body's own length is the one sent.
    std::erase_if(request.headers,
                  [](const HttpHeader& h) { return http_parts::equals_ignoring_case(h.name, "Content-Length"); });
    return perform(std::move(request));
}

} // namespace platform
