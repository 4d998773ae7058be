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
// The head (request line, header lines and the blank line) is capped as a whole, so that
// a peer without the token costs a connection at most this much; one line may take half
// of it.
inline constexpr std::size_t MAX_LINE_BYTES = 32'768;
inline constexpr std::size_t MAX_HEAD_BYTES = 65'536;
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

// The decoded query value of `key`; nothing when the query has no such key.
[[nodiscard]] std::optional<std::string> query_value(const HttpRequest& request, const std::string& key);

// One read of what has arrived on `conn`, at most `size` bytes, that waits at most
// `per_read` and never past `deadline` (once it has passed, a failure without reading).
// A failure to set the time-out is ignored: the read then just waits longer.
[[nodiscard]] core::Result<std::size_t> recv_before(platform::Socket& conn, char* buffer, std::size_t size,
                                                    std::chrono::milliseconds per_read, platform::MonoInstant deadline);

// Reads one request from a connection in two steps, so that a request can be refused on
// its head before its body is read. Each read waits at most `read_wait`, and none goes on
// past `deadline`.
class RequestReader {
public:
    RequestReader(platform::Socket& conn, platform::MonoInstant deadline,
                  std::chrono::milliseconds read_wait = RECV_TIMEOUT)
        : m_conn(conn), m_deadline(deadline), m_read_wait(read_wait)
    {
    }

    // The request line and the headers, with an empty body. Nothing when they cannot be
    // read completely (time-out, the deadline passed, reset, invalid UTF-8 in a line, a
    // request line without two words, a line, the head or the header count past its
    // cap): the caller then closes the connection without a reply.
    [[nodiscard]] std::optional<HttpRequest> read_head();

    // The body that the head's content length announced, into `req.body`. Its memory
    // grows with the bytes that arrive, not with the declared length. False when the
    // stream ends or fails first. Reads no byte beyond it.
    [[nodiscard]] bool read_body(HttpRequest& req);

private:
    enum class Line { ok, end_of_stream, failed };

    Line read_line(std::string& line, std::size_t limit);
    bool fill();
    core::Result<std::size_t> recv(char* buffer, std::size_t size);

    platform::Socket& m_conn;
    const platform::MonoInstant m_deadline;
    const std::chrono::milliseconds m_read_wait;
    char m_buffer[READ_BUFFER_BYTES];
    std::size_t m_pos = 0;
    std::size_t m_len = 0;
    std::size_t m_content_length = 0;
};

} // namespace server
