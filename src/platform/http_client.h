#pragma once
// Blocking HTTP/1.1 client with TLS: libcurl on POSIX, WinHTTP on Windows.
//
// Both builds behave alike: at most 5 redirects are followed (none when the request says
// so), only within the request's origin or from http up to https on the same host, and
// without changing the method (see http_parts::next_redirect_step); the environment's
// proxy variables are never consulted (connections always go direct), and HTTPS verifies
// the certificate chain and the host name (against a root set compiled into the program
// on POSIX, the system's root store on Windows). Verification cannot be turned off.

#include "core/result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

struct HttpHeader {
    std::string name{};
    std::string value{};
};

// Pulls the next piece of a streamed request body into `buffer` and returns how many bytes
// it placed there; 0 means the body has ended. A failure ends the request, which then
// fails with the reader's own message.
using HttpBodyReader = std::function<core::Result<std::size_t>(std::span<char> buffer)>;

// Starts a streamed body again from its first byte; a failure ends the request with the
// message.
using HttpBodyRewinder = std::function<core::Result<void>()>;

// A request body pulled from `read` while the request is sent. It goes out with
// "Content-Length: <length>" and never with chunked coding; the reader is asked for at most
// `length` bytes in all, and a reader that ends before `length` bytes fails the request.
// A redirect that must send the body again (307, 308) calls `rewind` first; without one
// the body cannot be replayed and such a redirect fails.
struct HttpStreamBody {
    std::uint64_t length = 0;
    HttpBodyReader read{};
    HttpBodyRewinder rewind{};
};

// The defaults are the service's usual ones; an upload's agent allows longer reads and writes.
struct HttpTimeouts {
    // Name look-up and TCP connection (on POSIX also the TLS handshake).
    std::chrono::milliseconds connect{15000};
    // Longest wait for the next bytes of the reply, the reply's head included.
    std::chrono::milliseconds read{20000};
    // Longest wait for the connection to take the next bytes of the request.
    std::chrono::milliseconds write{20000};
};

// Whether a request follows the redirects it is answered with.
enum class Redirects {
    follow, // up to 5 to the same service, as HttpClient::send describes
    none,   // a redirect reply (301, 302, 303, 307, 308) is the reply; its Location is not visited
};

struct HttpRequest {
    std::string method = "GET";
    // "http://" or "https://" URL, already percent-encoded where needed.
    std::string url{};
    // Sent as given, in this order. The client adds Host, Accept "*/*" and, with a body,
    // Content-Length itself; a Content-Length given here is dropped in favour of the
    // body's real length. No User-Agent is sent unless given here.
    std::vector<HttpHeader> headers{};
    // No body, a body in memory, or a streamed body.
    std::variant<std::monostate, std::string, HttpStreamBody> body{};
    // Most bytes of the reply's body to keep; reading stops at the first byte past it.
    std::size_t max_body_bytes = 0;
    // A smaller cap for the body of an error reply (status 400 or above), whose text is
    // only shown, not parsed.
    std::optional<std::size_t> max_error_body_bytes{};
    Redirects redirects = Redirects::follow;
};

struct HttpResponse {
    std::uint16_t status = 0;
    // The reply's body, at most `max_body_bytes` of it.
    std::string body{};
    // True when the reply had more than `max_body_bytes` bytes; the rest was not read.
    bool body_truncated = false;
    // Set when the connection failed after the reply's head had arrived: the client's
    // description of the failure, with `body` holding what came before it.
    std::optional<std::string> body_error{};
};

// An agent: the settings under which requests are sent. Each request opens a connection
// of its own; nothing is shared between requests or between agents.
class HttpClient {
public:
    explicit HttpClient(HttpTimeouts timeouts) : m_timeouts(timeouts) {}

    // Sends the request and waits for the final reply, following up to 5 redirects unless
    // the request asks for Redirects::none. Any reply, whatever its status, is a success.
    // Fails, with the client library's own description of the cause (or the body reader's
    // message), when no reply arrived: a bad URL, name look-up, connection refused, TLS or
    // certificate failure, a time-out, or a connection that broke before the reply's head
    // was complete. A redirect that is not followed by the shared rule (a sixth one, one to
    // another host or port, one from HTTPS to plain HTTP, a 301/302/303 of a request other
    // than GET or HEAD, one whose streamed body cannot be sent again) fails the request
    // with a message that refused_redirect_status() recognises. A method or
    // header name that is not an RFC 9110 token, or a header value holding CR, LF or NUL,
    // fails before anything is sent.
    [[nodiscard]] core::Result<HttpResponse> send(HttpRequest request) const;

    [[nodiscard]] const HttpTimeouts& timeouts() const { return m_timeouts; }

private:
    // The platform's half of send(), given a request whose method and headers are sound.
    [[nodiscard]] core::Result<HttpResponse> perform(HttpRequest request) const;

    HttpTimeouts m_timeouts;
};

// The status of the redirect that a failure of HttpClient::send names as not followed;
// nothing for every other failure.
[[nodiscard]] std::optional<std::uint16_t> refused_redirect_status(std::string_view failure);

} // namespace platform
