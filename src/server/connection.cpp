#include "server/connection.h"

#include "server/selection_routes.h"
#include "server/state_routes.h"
#include "uploader/account_routes.h"

#include <array>
#include <optional>

extern const unsigned char vano_page_html[];
extern const std::size_t vano_page_html_size;

namespace server {
namespace {

constexpr std::string_view PAGE_CONTENT_TYPE = "text/html; charset=utf-8";
constexpr std::string_view TEXT_CONTENT_TYPE = "text/plain; charset=utf-8";
constexpr std::string_view BAD_PAGE_TOKEN_TEXT = "유효하지 않은 로컬 세션입니다.";

using Handler = RouteReply (*)(const HttpRequest&, const SharedState&);

struct Route {
    std::string_view method;
    std::string_view path;
    Handler handler;
};

std::optional<std::string> query_value(const HttpRequest& req, const std::string& key)
{
    const auto it = req.query.find(key);
    if (it == req.query.end())
        return std::nullopt;
    return it->second;
}

const std::array<Route, 14> routes{{
    {"GET", "/api/local/state", [](const HttpRequest&, const SharedState& s) { return handle_state(*s); }},
    {"GET", "/api/local/selection-version",
     [](const HttpRequest&, const SharedState& s) { return handle_selection_version(*s); }},
    {"GET", "/api/local/quota", [](const HttpRequest&, const SharedState& s) { return uploader::handle_quota(*s); }},
    {"GET", "/api/local/check-code",
     [](const HttpRequest& r, const SharedState& s) { return uploader::handle_check_code(*s, query_value(r, "code")); }},
    {"POST", "/api/local/heartbeat", [](const HttpRequest&, const SharedState&) { return handle_heartbeat(); }},
    {"POST", "/api/local/login", [](const HttpRequest& r, const SharedState& s) { return uploader::handle_login(*s, r.body); }},
    {"POST", "/api/local/logout", [](const HttpRequest&, const SharedState& s) { return handle_logout(*s); }},
    {"POST", "/api/local/install-menu", [](const HttpRequest&, const SharedState&) { return handle_install_menu(); }},
    {"POST", "/api/local/uninstall-menu", [](const HttpRequest&, const SharedState&) { return handle_uninstall_menu(); }},
    {"POST", "/api/local/pick", [](const HttpRequest& r, const SharedState& s) { return handle_pick(s, r.body); }},
    {"POST", "/api/local/add-paths", [](const HttpRequest& r, const SharedState& s) { return handle_add_paths(s, r.body); }},
    {"POST", "/api/local/start-upload", [](const HttpRequest& r, const SharedState& s) { return handle_start_upload(s, r.body); }},
    {"POST", "/api/local/copy", [](const HttpRequest& r, const SharedState&) { return handle_copy(r.body); }},
    {"POST", "/api/local/quit", [](const HttpRequest&, const SharedState& s) { return handle_quit(*s); }},
}};

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

HttpReply respond(const HttpRequest& req, const SharedState& state)
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

void handle_connection(platform::Socket conn, SharedState state, platform::MonoInstant deadline,
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
        reply = respond(*req, state);
    }
    write_http_response(conn, reply->status, reply->content_type, reply->body);
    drain_and_close(conn, times);
}

} // namespace server
