#include "server/connection.h"

#include <array>
#include <optional>

extern const unsigned char vano_page_html[];
extern const std::size_t vano_page_html_size;

namespace server {
namespace {

constexpr std::string_view PAGE_CONTENT_TYPE = "text/html; charset=utf-8";
constexpr std::string_view TEXT_CONTENT_TYPE = "text/plain; charset=utf-8";
constexpr std::string_view BAD_PAGE_TOKEN_TEXT = "유효하지 않은 로컬 세션입니다.";

enum class FromPage { no, yes };

// last_seen_ms first: the accept loop reads page_seen before last_seen_ms, so it can
// never see the flag newly set together with a time from before this request.
void record_activity(ServerState& state, FromPage from_page)
{
    state.touch_activity();
    if (from_page == FromPage::yes)
        state.mark_page_seen();
}

// Another process handing over its paths keeps the instance alive, but only the page
// ends the wait for the page.
FromPage sender_of(const HttpRequest& req)
{
    return req.method == "POST" && req.path == "/api/local/add-paths" ? FromPage::no : FromPage::yes;
}

// The query token has passed refusal().
HttpReply serve_page(ServerState& state)
{
    record_activity(state, FromPage::yes);
    return {200, std::string(PAGE_CONTENT_TYPE), page_with_token(state.token())};
}

void drain_and_close(platform::Socket& conn, const ConnectionTimes& times)
{
    conn.shutdown_send();
    const auto deadline = platform::monotonic_now() + times.drain_limit;
    std::array<char, READ_BUFFER_BYTES> sink{};
    std::size_t drained = 0;
    while (drained < MAX_DRAIN_BYTES) {
        auto n = recv_before(conn, sink.data(), sink.size(), times.drain_wait, deadline);
        if (!n || *n == 0)
            break;
        drained += *n;
    }
    conn.close();
}

} // namespace

std::string page_with_token(std::string_view token)
{
    const std::string_view page(reinterpret_cast<const char*>(vano_page_html), vano_page_html_size);
    std::string out;
    out.reserve(page.size());
    std::size_t pos = 0;
    for (;;) {
        const std::size_t hit = page.find(PAGE_TOKEN_MARKER, pos);
        out.append(page.substr(pos, hit - pos));
        if (hit == std::string_view::npos)
            break;
        out.append(token);
        pos = hit + PAGE_TOKEN_MARKER.size();
    }
    return out;
}

HttpReply respond(const HttpRequest& req, const SharedState& state, RouteTable routes)
{
    if (auto refused = refusal(req, *state))
        return *refused;
    if (req.method == "GET" && req.path == "/")
        return serve_page(*state);

    record_activity(*state, sender_of(req));
    for (const Route& route : routes) {
        if (route.method == req.method && route.path == req.path)
            return json_reply(route.handler(req, state));
    }
    return json_reply(404, Json{{"detail", "Not found"}});
}

std::optional<HttpReply> refusal(const HttpRequest& head, const ServerState& state)
{
    if (head.method == "GET" && head.path == "/") {
        if (query_value(head, "token").value_or("") == state.token())
            return std::nullopt;
        return HttpReply{403, std::string(TEXT_CONTENT_TYPE), std::string(BAD_PAGE_TOKEN_TEXT)};
    }
    const auto header = head.headers.find("x-local-token");
    const std::string_view token = header == head.headers.end() ? std::string_view() : std::string_view(header->second);
    if (token == state.token())
        return std::nullopt;
    return json_reply(403, Json{{"detail", "권한이 없습니다."}, {"success", false}});
}

void handle_connection(platform::Socket conn, SharedState state, RouteTable routes, platform::MonoInstant deadline,
                       const ConnectionTimes& times)
{
    RequestReader reader(conn, deadline, times.read_wait);
    std::optional<HttpRequest> req = reader.read_head();
    if (!req)
        return; // no reply; the connection closes as it goes out of scope
    // Refused on its head: a peer without the token never gets its body into memory.
    std::optional<HttpReply> reply = refusal(*req, *state);
    if (!reply) {
        if (!reader.read_body(*req))
            return;
        reply = respond(*req, state, routes);
    }
    write_http_response(conn, reply->status, reply->content_type, reply->body);
    drain_and_close(conn, times);
}

} // namespace server
