#pragma once
// Pieces that both HTTP client implementations share. Header of src/platform only.

#include "core/ascii.h"
#include "platform/http_client.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::http_parts {

// ASCII letters compared without case, as HTTP compares header names and schemes.
inline bool equals_ignoring_case(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, [](char x, char y) { return core::ascii_lower(x) == core::ascii_lower(y); });
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

// Whether the body can go out again to a redirect's target: bytes always, a stream only
// with a rewind.
inline bool body_resendable(const HttpRequest& request)
{
    if (const auto* stream = std::get_if<HttpStreamBody>(&request.body))
        return static_cast<bool>(stream->rewind);
    return true;
}

// Readies the body for the next request of a followed redirect.
inline core::Result<void> rewind_body(const HttpRequest& request)
{
    if (const auto* stream = std::get_if<HttpStreamBody>(&request.body); stream && stream->rewind)
        return stream->rewind();
    return core::ok();
}

inline bool is_redirect_status(long code)
{
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// The most redirects one request follows.
inline constexpr int max_redirects = 5;

// One reply of a request, as the redirect rule sees it.
struct ReplyHead {
    // The URL that was requested and the method it was requested with.
    std::string_view url;
    std::string_view method;
    // Whether the request has a body and whether that body can be sent again.
    bool has_body = false;
    bool body_resendable = false;
    Redirects policy = Redirects::follow;
    // How many redirects led to this request.
    int redirects_done = 0;
    std::uint16_t status = 0;
    std::optional<std::string_view> location;
};

// What the client does next with a reply.
struct RedirectStep {
    enum class Kind { final_reply, follow, refuse };
    Kind kind = Kind::final_reply;
    // follow: the absolute URL to request next, with the same method and body.
    std::string url{};
    // refuse: why, naming the redirect's status; the request then fails with it.
    std::string message{};
};

// The redirect rule of both clients. A reply is final unless it is a 301, 302, 303, 307 or
// 308 with a Location and the policy follows redirects. A redirect is followed only to the
// same origin (scheme, host, port), or from http up to https on the same host when the
// port stays or goes from 80 to 443; it never changes the method (301, 302 and 303 only
// for GET and HEAD) and is taken with a body only when the body can be sent again.
// Everything else, including a sixth redirect, is refused, so the request's key or
// password never reaches another host or port, nor plain HTTP once it was on HTTPS.
[[nodiscard]] RedirectStep next_redirect_step(const ReplyHead& reply);

// A Location resolved against the URL it came from (RFC 3986 section 5.2, for the forms
// that servers send), without its fragment; nothing when it cannot be used (another
// scheme than http or https, user information, blanks or control characters).
[[nodiscard]] std::optional<std::string> resolve_location(std::string_view base, std::string_view location);

// The failure of a streamed body whose reader ended before its declared length.
inline constexpr std::string_view body_ended_early = "the request body ended before its declared length";

} // namespace platform::http_parts
