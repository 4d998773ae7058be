#pragma once
// Reading one HTTP/1.1 request from a local connection.

#include "platform/clock.h"
#include "platform/socket.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace server {

inline constexpr std::chrono::milliseconds RECV_TIMEOUT{10'000};
// The whole request, head and body, must have arrived this long after the connection was
// accepted, however the peer spaces its bytes.
inline constexpr std::chrono::milliseconds REQUEST_TIME_LIMIT{30'000};
inline constexpr std::size_t READ_BUFFER_BYTES = 8192;
inline constexpr std::size_t MAX_BODY_BYTES = 2'097'152;
// Caps that keep a local process from filling memory with one endless line or header.
inline constexpr std::size_t MAX_LINE_BYTES = 65'536;
inline constexpr std::size_t MAX_HEADER_LINES = 100;

struct HttpRequest {
    std::string method; // upper case
    std::string path;   // the target before its first "?", not decoded
    std::string body;   // exactly the content length, at most MAX_BODY_BYTES
    std::map<std::string, std::string> query;   // decoded; a repeated key keeps its last value
    std::map<std::string, std::string> headers; // names lower-cased; names and values trimmed
};

// The pairs of a query text ("a=1&b=2"): pieces without "=" are skipped, keys and values
// are decoded by decode_query_component, and the last of repeated keys wins.
[[nodiscard]] std::map<std::string, std::string> parse_query(std::string_view query);

// One read of what has arrived on `conn`, at most `size` bytes, that waits at most
// `per_read` and never past `deadline` (once it has passed, a failure without reading).
// A failure to set the time-out is ignored: the read then just waits longer.
[[nodiscard]] core::Result<std::size_t> recv_before(platform::Socket& conn, char* buffer, std::size_t size,
                                                    std::chrono::milliseconds per_read, platform::MonoInstant deadline);

// Reads one request: each read waits at most RECV_TIMEOUT, and none goes on past
// `deadline`. The body's memory grows with the bytes that arrive, not with the declared
// length. Nothing when the request cannot be read completely (time-out, the deadline
// passed, reset, end of stream before the body's end, invalid UTF-8 in a line, a request
// line without two words, a line or header count past its cap): the caller then closes
// the connection without a reply.
[[nodiscard]] std::optional<HttpRequest> read_request(platform::Socket& conn, platform::MonoInstant deadline);

} // namespace server
