#include "platform/http_client.h"

#include "core/ascii.h"
#include "platform/http_client_parts.h"

#include <algorithm>
#include <charconv>
#include <string>
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

struct Origin {
    std::string scheme;
    std::string host;
    unsigned port = 0;
    bool operator==(const Origin&) const = default;
};

bool is_host_char(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-'
           || c == '_' || c == '%';
}

// Scheme, host and port of an absolute http or https URL (RFC 6454 section 4); nothing
// for any other URL, and for one with user information, whose host two parsers may
// read differently.
std::optional<Origin> origin_of(std::string_view url)
{
    const auto scheme_end = url.find("://");
    if (scheme_end == std::string_view::npos)
        return std::nullopt;
    Origin origin{core::ascii_lower(url.substr(0, scheme_end)), {}, 0};
    if (origin.scheme != "http" && origin.scheme != "https")
        return std::nullopt;
    std::string_view authority = url.substr(scheme_end + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    std::string_view host = authority;
    std::string_view port;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && !after.starts_with(':'))
            return std::nullopt;
        port = after.empty() ? after : after.substr(1);
        if (!std::ranges::all_of(host.substr(1, host.size() - 2), [](char c) {
                return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':'
                       || c == '.';
            }))
            return std::nullopt;
    } else {
        const auto colon = authority.find(':');
        host = authority.substr(0, colon);
        port = colon == std::string_view::npos ? std::string_view() : authority.substr(colon + 1);
        if (!std::ranges::all_of(host, is_host_char))
            return std::nullopt;
    }
    if (host.empty())
        return std::nullopt;
    origin.host = core::ascii_lower(host);
    origin.port = origin.scheme == "https" ? 443 : 80;
    if (!port.empty()) {
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), origin.port);
        if (ec != std::errc() || end != port.data() + port.size() || origin.port > 65535)
            return std::nullopt;
    }
    return origin;
}

// A scheme per RFC 3986 section 3.1, ending at the first ":" before any "/", "?" or "#".
bool has_scheme(std::string_view reference)
{
    const auto colon = reference.find(':');
    if (colon == 0 || colon == std::string_view::npos || colon > reference.find_first_of("/?#"))
        return false;
    const auto scheme = reference.substr(0, colon);
    const auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    return alpha(scheme.front()) && std::ranges::all_of(scheme, [&](char c) {
               return alpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
           });
}

constexpr std::string_view refusal_prefix = "redirect refused (HTTP ";

std::string refusal(std::uint16_t status, std::string_view why)
{
    return std::string(refusal_prefix) + std::to_string(status) + "): " + std::string(why);
}

// The same service: its own origin, or its host moved from http up to https, where 80 and
// 443 are the one pair of default ports (RFC 9110 section 4.2) and any other port stays.
bool same_service(const Origin& from, const Origin& to)
{
    if (from == to)
        return true;
    return from.scheme == "http" && to.scheme == "https" && from.host == to.host
           && (from.port == to.port || (from.port == 80 && to.port == 443));
}

} // namespace

namespace http_parts {

std::optional<std::string> resolve_location(std::string_view base, std::string_view location)
{
    // Blanks, controls and backslashes are read differently by different URL parsers.
    if (std::ranges::any_of(location, [](char c) { return (unsigned char)c <= 0x20 || c == 0x7f || c == '\\'; }))
        return std::nullopt;
    location = location.substr(0, location.find('#'));
    base = base.substr(0, base.find('#'));
    std::string resolved;
    if (has_scheme(location)) {
        resolved = location;
    } else {
        const auto base_scheme_end = base.find("://");
        if (base_scheme_end == std::string_view::npos)
            return std::nullopt;
        const auto origin_end = std::min(base.find_first_of("/?", base_scheme_end + 3), base.size());
        const std::string_view path = base.substr(0, std::min(base.find('?', origin_end), base.size()));
        if (location.starts_with("//")) {
            resolved = std::string(base.substr(0, base_scheme_end + 1)) + std::string(location);
        } else if (location.starts_with('/')) {
            resolved = std::string(base.substr(0, origin_end)) + std::string(location);
        } else if (location.empty() || location.starts_with('?')) {
            resolved = std::string(path) + std::string(location);
        } else {
            const auto last_slash = path.rfind('/');
            resolved = (last_slash == std::string_view::npos || last_slash < origin_end
                            ? std::string(path) + "/"
                            : std::string(path.substr(0, last_slash + 1)))
                       + std::string(location);
        }
    }
    if (!origin_of(resolved))
        return std::nullopt;
    return resolved;
}

RedirectStep next_redirect_step(const ReplyHead& reply)
{
    if (reply.policy == Redirects::none || !is_redirect_status(reply.status) || !reply.location)
        return {};
    const auto refuse = [&](std::string_view why) {
        return RedirectStep{RedirectStep::Kind::refuse, {}, refusal(reply.status, why)};
    };
    if (reply.redirects_done >= max_redirects)
        return refuse("more than " + std::to_string(max_redirects) + " redirects");
    auto next = resolve_location(reply.url, *reply.location);
    if (!next)
        return refuse("its Location is no usable http or https URL");
    const auto from = origin_of(reply.url);
    const auto to = origin_of(*next);
    if (from && from->scheme == "https" && to->scheme == "http")
        return refuse("it leads from HTTPS down to plain HTTP");
    if (!from || !same_service(*from, *to))
        return refuse("it leads to another origin");
    const bool keeps_method_only_for_reads = reply.status == 301 || reply.status == 302 || reply.status == 303;
    if (keeps_method_only_for_reads && reply.method != "GET" && reply.method != "HEAD")
        return refuse("a " + std::string(reply.method) + " is not turned into a GET");
    if (reply.has_body && !reply.body_resendable)
        return refuse("the request body cannot be sent again");
    return {RedirectStep::Kind::follow, std::move(*next), {}};
}

} // namespace http_parts

std::optional<std::uint16_t> refused_redirect_status(std::string_view failure)
{
    if (!failure.starts_with(refusal_prefix))
        return std::nullopt;
    failure.remove_prefix(refusal_prefix.size());
    std::uint16_t status = 0;
    const auto [end, ec] = std::from_chars(failure.data(), failure.data() + failure.size(), status);
    if (ec != std::errc() || !failure.substr(std::size_t(end - failure.data())).starts_with("): "))
        return std::nullopt;
    return status;
}

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
