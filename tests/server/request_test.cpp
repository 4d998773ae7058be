// Raw requests over a real loopback connection against raw replies.
#include "local_server.h"
#include "support/state_probe.h"

#include "server/connection.h"

#include <fstream>
#include <future>
#include <sstream>

namespace {

using test::TOKEN;

const std::string T(TOKEN);
const std::string forbidden_json = "{\"detail\":\"권한이 없습니다.\",\"success\":false}";
const std::string not_found_json = "{\"detail\":\"Not found\"}";
const std::string bad_page_token = "유효하지 않은 로컬 세션입니다.";
const std::string heartbeat_json = "{\"ok\":true}";

std::string json_head(int status, std::string_view reason, std::size_t length)
{
    return "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason)
        + "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " + std::to_string(length)
        + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
}

std::string json_raw(int status, std::string_view reason, const std::string& body)
{
    return json_head(status, reason, body.size()) + body;
}

// The page file as the build embeds it, with the marker replaced by hand.
std::string expected_page()
{
    std::ifstream in(std::string(VANO_SOURCE_DIR) + "/src/server/page/index.html", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string page = ss.str();
    const std::string marker = "__VANO_LOCAL_TOKEN__";
    for (std::size_t at = page.find(marker); at != std::string::npos; at = page.find(marker, at + T.size()))
        page.replace(at, marker.size(), T);
    return page;
}

std::string page_raw()
{
    const std::string page = expected_page();
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(page.size())
        + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + page;
}

std::string text_403_raw()
{
    return "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
        + std::to_string(bad_page_token.size()) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + bad_page_token;
}

std::string percent_encode_all(std::string_view s)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

std::string hb(std::string_view extra_headers = {})
{
    return "POST /api/local/heartbeat HTTP/1.1\r\n" + std::string(extra_headers) + "\r\n";
}

// A header line of exactly `size` bytes, its line ending included.
std::string pad_line(std::size_t size) { return "X-Pad: " + std::string(size - 9, 'p') + "\r\n"; }

// A heartbeat with `headers` whose head, blank line included, is exactly `size` bytes:
// padding lines fill what the other lines leave.
std::string heartbeat_head_of(std::size_t size, const std::string& headers)
{
    std::size_t left = size - hb(headers).size();
    std::string pads;
    while (left > 0) {
        const std::size_t line = std::min(left, server::MAX_LINE_BYTES);
        pads += pad_line(line);
        left -= line;
    }
    return hb(headers + pads);
}

// "POST /api/local/heartbeat?p=... HTTP/1.1" of exactly `size` bytes, its line ending included.
std::string heartbeat_line_of(std::size_t size)
{
    const std::string fixed = "POST /api/local/heartbeat?p= HTTP/1.1\r\n";
    return "POST /api/local/heartbeat?p=" + std::string(size - fixed.size(), 'q') + " HTTP/1.1\r\n";
}

std::string numbered_lines(int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "X-N" + std::to_string(i) + ": 1\r\n";
    return lines;
}

struct Case {
    std::string_view name;
    std::string request;
    std::string reply; // exact bytes; empty: no reply at all
    bool authorised;   // whether the request counts as activity
};

class RequestTest : public ::testing::Test {
protected:
    test::TempConfigHome home;
    test::LocalServer srv;
};

TEST_F(RequestTest, RawRequestsGetExactReplies)
{
    const std::string auth = "X-Local-Token: " + T + "\r\n";
    const std::vector<Case> cases = {
        {"page with token", "GET /?token=" + T + " HTTP/1.1\r\n\r\n", page_raw(), true},
        {"lower-case method", "get /?token=" + T + " HTTP/1.1\r\n\r\n", page_raw(), true},
        {"further query pair", "GET /?lang=ko&token=" + T + " HTTP/1.1\r\n\r\n", page_raw(), true},
        {"repeated token, last right", "GET /?token=nope&token=" + T + " HTTP/1.1\r\n\r\n", page_raw(), true},
        {"repeated token, last wrong", "GET /?token=" + T + "&token=nope HTTP/1.1\r\n\r\n", text_403_raw(), false},
        {"percent-encoded token", "GET /?token=" + percent_encode_all(T) + " HTTP/1.1\r\n\r\n", page_raw(), true},
        {"empty token", "GET /?token= HTTP/1.1\r\n\r\n", text_403_raw(), false},
        {"no query", "GET / HTTP/1.1\r\n\r\n", text_403_raw(), false},
        {"header token does not open the page", "GET / HTTP/1.1\r\n" + auth + "\r\n", text_403_raw(), false},
        {"other path without header", "GET /index.html?token=" + T + " HTTP/1.1\r\n\r\n", json_raw(403, "Forbidden", forbidden_json), false},
        {"other path with header", "GET /index.html HTTP/1.1\r\n" + auth + "\r\n", json_raw(404, "Not Found", not_found_json), true},
        {"wrong header token", hb("X-Local-Token: " + T.substr(1) + "0\r\n"), json_raw(403, "Forbidden", forbidden_json), false},
        {"POST of a GET route", "POST /api/local/state HTTP/1.1\r\n" + auth + "\r\n", json_raw(404, "Not Found", not_found_json), true},
        {"GET of a POST route", "GET /api/local/quit HTTP/1.1\r\n" + auth + "\r\n", json_raw(404, "Not Found", not_found_json), true},
        {"other method", "PUT /api/local/heartbeat HTTP/1.1\r\n" + auth + "\r\n", json_raw(404, "Not Found", not_found_json), true},
        {"trailing slash", "POST /api/local/heartbeat/ HTTP/1.1\r\n" + auth + "\r\n", json_raw(404, "Not Found", not_found_json), true},
        {"route with a query", "POST /api/local/heartbeat?x=1 HTTP/1.1\r\n" + auth + "\r\n", json_raw(200, "OK", heartbeat_json), true},
        {"header name in any case, value padded", hb("x-LOCAL-tOkEn: \t " + T + "  \r\n"), json_raw(200, "OK", heartbeat_json), true},
        {"line without colon skipped", hb("garbage line\r\n" + auth), json_raw(200, "OK", heartbeat_json), true},
        {"bare line feeds", "POST /api/local/heartbeat HTTP/1.1\nX-Local-Token: " + T + "\n\n", json_raw(200, "OK", heartbeat_json), true},
        {"no blank line", "POST /api/local/heartbeat HTTP/1.1\r\n" + auth, json_raw(200, "OK", heartbeat_json), true},
        {"no version word", "POST /api/local/heartbeat\r\n" + auth + "\r\n", json_raw(200, "OK", heartbeat_json), true},
        {"heartbeat with a body", hb(auth + "Content-Length: 9\r\n") + "[1, 2, 3]", json_raw(200, "OK", heartbeat_json), true},
        {"content length not a number", hb(auth + "Content-Length: 12abc\r\n"), json_raw(200, "OK", heartbeat_json), true},
        {"last content length wins", hb(auth + "Content-Length: 900\r\nContent-Length: 2\r\n") + "{}", json_raw(200, "OK", heartbeat_json), true},
        {"body shorter than declared", hb(auth + "Content-Length: 5\r\n") + "abc", "", false},
        {"nothing sent", "", "", false},
        {"blank request line", "\r\n\r\n", "", false},
        {"one word", "GET\r\n\r\n", "", false},
        {"invalid UTF-8 in the request line", "GET /\xff?token=" + T + " HTTP/1.1\r\n\r\n", "", false},
        {"invalid UTF-8 in a header line", hb(auth + "X-Name: \xc3\x28\r\n"), "", false},
        {"request line past the cap", "GET /" + std::string(70'000, 'a') + " HTTP/1.1\r\n\r\n", "", false},
        {"header line past the cap", hb(auth + "X-Big: " + std::string(70'000, 'b') + "\r\n"), "", false},
        {"100 header lines", hb(auth + numbered_lines(99)), json_raw(200, "OK", heartbeat_json), true},
        {"101 header lines", hb(auth + numbered_lines(100)), "", false},
        {"header line at the line cap", hb(auth + pad_line(server::MAX_LINE_BYTES)), json_raw(200, "OK", heartbeat_json), true},
        {"header line one past the line cap", hb(auth + pad_line(server::MAX_LINE_BYTES + 1)), "", false},
        {"request line at the line cap", heartbeat_line_of(server::MAX_LINE_BYTES) + auth + "\r\n", json_raw(200, "OK", heartbeat_json), true},
        {"request line one past the line cap", heartbeat_line_of(server::MAX_LINE_BYTES + 1) + auth + "\r\n", "", false},
        {"head at the head cap", heartbeat_head_of(server::MAX_HEAD_BYTES, auth), json_raw(200, "OK", heartbeat_json), true},
        {"head one past the head cap", heartbeat_head_of(server::MAX_HEAD_BYTES + 1, auth), "", false},
        {"wrong header token, body never sent", hb("X-Local-Token: nope\r\nContent-Length: 100\r\n"), json_raw(403, "Forbidden", forbidden_json), false},
        {"wrong page token, body never sent", "GET /?token=nope HTTP/1.1\r\nContent-Length: 100\r\n\r\n", text_403_raw(), false},
        {"right page token, body never sent", "GET /?token=" + T + " HTTP/1.1\r\nContent-Length: 100\r\n\r\n", "", false},
        {"too many header lines", [&] {
             std::string h = auth;
             for (int i = 0; i < 200; ++i)
                 h += "X-N" + std::to_string(i) + ": 1\r\n";
             return hb(h);
         }(), "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server::ServerStateProbe::page_seen(*srv.state).store(false);
        server::ServerStateProbe::last_seen_ms(*srv.state).store(0);
        const auto before = server::elapsed_ms(srv.state->start_instant());
        EXPECT_EQ(test::round_trip(srv.port, c.request), c.reply);
        EXPECT_EQ(server::ServerStateProbe::page_seen(*srv.state).load(), c.authorised);
        if (c.authorised)
            EXPECT_GE(server::ServerStateProbe::last_seen_ms(*srv.state).load(), before);
        else
            EXPECT_EQ(server::ServerStateProbe::last_seen_ms(*srv.state).load(), 0u);
    }
}

TEST_F(RequestTest, ContentLengthAboveTheCapReadsTwoMebibytes)
{
    // Declares 3 MB but sends exactly 2 MiB and keeps the connection open: the reply
    // comes only because the reader stops at the cap.
    auto conn = platform::connect_loopback(srv.port, std::chrono::seconds(20));
    ASSERT_TRUE(conn);
    const std::string head = hb("X-Local-Token: " + T + "\r\nContent-Length: 3000000\r\n");
    ASSERT_TRUE(conn->send_all(head + std::string(server::MAX_BODY_BYTES, ' ')));
    EXPECT_EQ(test::read_to_end(*conn), json_raw(200, "OK", heartbeat_json));
}

// A peer that sends one byte every 100 ms never waits out a single read, yet its request
// must arrive whole within the request time limit (shortened here: that time-out is what
// is under test). Past it the server closes the connection without a reply, long before
// the last byte would have come.
TEST(RequestTimeLimit, TricklingPeersAreClosedWithoutAReply)
{
    using namespace std::chrono_literals;
    using Clock = std::chrono::steady_clock;
    test::TempConfigHome home;
    server::AcceptLoopTimes times;
    times.request_limit = 2s;
    test::LocalServer srv({}, false, times);
    const std::string auth = "X-Local-Token: " + T + "\r\n";
    const std::string long_head = hb(auth + "X-Padding: " + std::string(300, 'p') + "\r\n");
    const std::string body_head = hb(auth + "Content-Length: 300\r\n");
    struct Case {
        std::string_view name;
        std::string request;
        std::size_t at_once; // the first bytes go out in one piece
    };
    const Case cases[] = {
        {"head trickled", long_head, 0},
        {"body trickled after a whole head", body_head + std::string(300, ' '), body_head.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server::ServerStateProbe::page_seen(*srv.state).store(false);
        const auto start = Clock::now();
        auto conn = platform::connect_loopback(srv.port, 5s);
        ASSERT_TRUE(conn);
        auto reply = std::async(std::launch::async, [&] { return test::read_to_end(*conn); });
        std::size_t sent = c.at_once;
        bool closed = !conn->send_all(std::string_view(c.request).substr(0, sent));
        while (!closed && sent < c.request.size()) {
            if (reply.wait_for(100ms) == std::future_status::ready)
                break;
            closed = !conn->send_all(std::string_view(c.request).substr(sent++, 1));
        }
        EXPECT_LT(sent, c.request.size()) << "the whole request went out before the server gave up";
        EXPECT_EQ(reply.get(), "");
        EXPECT_GE(Clock::now() - start, times.request_limit);
        EXPECT_FALSE(server::ServerStateProbe::page_seen(*srv.state).load());
    }
    // A request that comes at once is still answered.
    EXPECT_EQ(test::split_reply(srv.call("POST", "/api/local/heartbeat")).body, heartbeat_json);
}

// Limits many times the waits of a busy machine, except the one under test.
server::AcceptLoopTimes long_times()
{
    using namespace std::chrono_literals;
    server::AcceptLoopTimes times;
    times.request_limit = 60s;
    times.connection.read_wait = 60s;
    times.connection.drain_wait = 60s;
    times.connection.drain_limit = 60s;
    return times;
}

// Seconds until the server ended the connection (end of stream or reset), keeping what
// it sent meanwhile; read_to_end gives up at 20 s.
double seconds_until_closed(platform::Socket& conn, std::string& got)
{
    const auto start = std::chrono::steady_clock::now();
    got = test::read_to_end(conn);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A refused request's body must never be waited for: the reply comes while the body is
// still unsent, and the body sent afterwards is drained, not answered with a reset.
TEST(RefusedRequest, IsAnsweredOnItsHeadAndItsBodyDrained)
{
    using namespace std::chrono_literals;
    test::TempConfigHome home;
    test::LocalServer srv({}, false, long_times());
    const std::size_t body_size = server::MAX_BODY_BYTES - 1;
    struct Case {
        std::string_view name;
        std::string head;
        std::string reply;
    };
    const Case cases[] = {
        {"API route", hb("X-Local-Token: nope\r\nContent-Length: " + std::to_string(body_size) + "\r\n"),
         json_raw(403, "Forbidden", forbidden_json)},
        {"page", "GET /?token=nope HTTP/1.1\r\nContent-Length: " + std::to_string(body_size) + "\r\n\r\n", text_403_raw()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto conn = platform::connect_loopback(srv.port, 20s);
        ASSERT_TRUE(conn);
        ASSERT_TRUE(conn->send_all(c.head));
        std::string reply;
        EXPECT_LT(seconds_until_closed(*conn, reply), 15.0);
        EXPECT_EQ(reply, c.reply);
        EXPECT_TRUE(conn->send_all(std::string(body_size, 'b'))) << "the server reset the connection under the body";
        EXPECT_FALSE(server::ServerStateProbe::page_seen(*srv.state).load());
    }
}

// The request limit and the drain limit hold however long one read may wait: a peer
// silent after its first byte, or one that keeps sending a byte after its reply, is
// closed at the limit (shortened here: those time-outs are what is under test).
TEST(ConnectionLimits, PeersAreClosedAtTheirLimitsNotAfterAReadWait)
{
    using namespace std::chrono_literals;
    test::TempConfigHome home;
    server::AcceptLoopTimes times = long_times();
    times.request_limit = 2s;
    times.connection.drain_limit = 2s;
    test::LocalServer srv({}, false, times);
    struct Case {
        std::string_view name;
        std::string sent;
        std::string reply;
        bool trickle_after_reply;
    };
    const Case cases[] = {
        {"silent after its first byte", "P", "", false},
        {"trickling after its reply", hb("X-Local-Token: " + T + "\r\n"), json_raw(200, "OK", heartbeat_json), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        auto conn = platform::connect_loopback(srv.port, 20s);
        ASSERT_TRUE(conn);
        ASSERT_TRUE(conn->send_all(c.sent));
        std::string reply;
        const double waited = seconds_until_closed(*conn, reply);
        EXPECT_EQ(reply, c.reply);
        if (!c.trickle_after_reply) {
            EXPECT_LT(waited, 15.0);
            continue;
        }
        // Our end of stream came with the reply; the server's close shows as a failed send.
        bool closed = false;
        while (!closed && std::chrono::steady_clock::now() - start < 30s) {
            closed = !conn->send_all("x");
            std::this_thread::sleep_for(100ms);
        }
        EXPECT_TRUE(closed);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    }
}

// With every place taken, a new connection waits in the backlog and is served as soon as
// one ends, whether the one that ends was silent or has just closed its side after its
// request (the drain then ends at once).
TEST(ConnectionCap, NewConnectionsWaitForAPlaceAndAreServed)
{
    using namespace std::chrono_literals;
    test::TempConfigHome home;
    server::AcceptLoopTimes times = long_times();
    times.max_connections = 2;
    test::LocalServer srv({}, false, times);
    const std::string heartbeat = hb("X-Local-Token: " + T + "\r\n");

    // The drain after each reply ends with the peer's close, or only one would be served.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(test::round_trip(srv.port, heartbeat), json_raw(200, "OK", heartbeat_json));

    std::vector<platform::Socket> holders;
    for (int i = 0; i < 2; ++i) {
        auto conn = platform::connect_loopback(srv.port, 20s);
        ASSERT_TRUE(conn);
        ASSERT_TRUE(conn->send_all("GET"));
        holders.push_back(std::move(*conn));
    }
    auto waiting = std::async(std::launch::async, [&] { return test::round_trip(srv.port, heartbeat); });
    EXPECT_EQ(waiting.wait_for(500ms), std::future_status::timeout) << "served beyond the cap";
    holders.front().close();
    EXPECT_EQ(waiting.get(), json_raw(200, "OK", heartbeat_json));
}

TEST(PageTest, EveryMarkerIsReplacedAndTheMarkerIsInThePageOnce)
{
    const std::string page = expected_page();
    EXPECT_EQ(server::page_with_token(TOKEN), page);
    EXPECT_EQ(page.find("__VANO_LOCAL_TOKEN__"), std::string::npos);
    const std::string raw = server::page_with_token("__VANO_LOCAL_TOKEN__");
    const std::size_t first = raw.find("const TOKEN = \"__VANO_LOCAL_TOKEN__\"");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(raw.find("__VANO_LOCAL_TOKEN__"), first + 15);
    EXPECT_EQ(raw.find("__VANO_LOCAL_TOKEN__", first + 16), std::string::npos);
}

} // namespace
