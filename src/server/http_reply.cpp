#include "server/http_reply.h"

namespace server {

std::string_view reason_phrase(std::uint16_t status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    default: return "Internal Server Error";
    }
}

std::string http_head(std::uint16_t status, std::string_view content_type, std::size_t body_length)
{
    std::string head = "HTTP/1.1 ";
    head += std::to_string(status);
    head += ' ';
    head += reason_phrase(status);
    head += "\r\nContent-Type: ";
    head += content_type;
    head += "\r\nContent-Length: ";
    head += std::to_string(body_length);
    head += "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    return head;
}

std::string compact_json(const Json& value)
{
    try {
        return value.dump();
    } catch (const Json::exception&) {
        // Invalid UTF-8 in a string value.
        return "{}";
    }
}

HttpReply json_reply(std::uint16_t status, const Json& value)
{
    return {status, std::string(JSON_CONTENT_TYPE), compact_json(value)};
}

HttpReply json_reply(const RouteReply& reply) { return json_reply(reply.status, reply.body); }

void write_http_response(platform::Socket& conn, std::uint16_t status, std::string_view content_type, std::string_view body)
{
    (void)conn.send_all(http_head(status, content_type, body.size()));
    (void)conn.send_all(body);
}

void send_json(platform::Socket& conn, std::uint16_t status, const Json& value)
{
    write_http_response(conn, status, JSON_CONTENT_TYPE, compact_json(value));
}

} // namespace server
