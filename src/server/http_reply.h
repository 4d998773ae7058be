#pragma once
// Writing the one reply of a local connection.

#include "platform/socket.h"
#include "server/route_reply.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace server {

inline constexpr std::string_view JSON_CONTENT_TYPE = "application/json; charset=utf-8";

// A complete reply, built before anything is written.
struct HttpReply {
    std::uint16_t status = 200;
    std::string content_type;
    std::string body;
};

// "OK", "Bad Request", "Unauthorized", "Forbidden", "Not Found", else
// "Internal Server Error".
[[nodiscard]] std::string_view reason_phrase(std::uint16_t status);

// The head of a reply: status line, Content-Type, Content-Length, Cache-Control and
// Connection, in that order, and the blank line.
[[nodiscard]] std::string http_head(std::uint16_t status, std::string_view content_type, std::size_t body_length);

// Compact JSON text of `value` (object keys sorted); "{}" when it cannot be serialised.
[[nodiscard]] std::string compact_json(const Json& value);

// A JSON reply: compact_json of `value` as "application/json; charset=utf-8".
[[nodiscard]] HttpReply json_reply(std::uint16_t status, const Json& value);
[[nodiscard]] HttpReply json_reply(const RouteReply& reply);

// Writes the head, then the body, each as one complete write. Write failures are ignored
// (the peer has gone; the connection is closed as usual).
void write_http_response(platform::Socket& conn, std::uint16_t status, std::string_view content_type, std::string_view body);

// write_http_response with compact_json of `value`.
void send_json(platform::Socket& conn, std::uint16_t status, const Json& value);

} // namespace server
