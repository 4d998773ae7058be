#include "platform/http_client.h"

#include "platform/http_client_parts.h"

#include "platform/process.h"
#include "support/host_program.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr std::size_t reply_cap = 16 * 1024 * 1024;

// tools/http_test_server.py, started detached: under wine a native child cannot be waited
// for, so it tells its port through a file and ends on /quit or when idle.
class StandIn {
public:
    explicit StandIn(bool tls) : m_tls(tls)
    {
        // A path that the native Python and a Windows test under wine (drive Z:) share.
        m_folder = std::string(VANO_BINARY_DIR) + "/http_client_test/"
                   + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        std::filesystem::create_directories(std::filesystem::path(m_folder));
        const std::string port_file = m_folder + "/port";
        platform::ProcessSpec spec;
        spec.program = test_support::host_program("/usr/bin/python3");
        spec.args = {std::string(VANO_SOURCE_DIR) + "/tools/http_test_server.py", "--port-file", port_file};
        if (tls)
            spec.args.insert(spec.args.end(), {"--tls", m_folder});
        spec.stdout_mode = platform::OutputMode::inherit;
        spec.stderr_mode = platform::OutputMode::inherit;
        spec.wait = platform::WaitMode::detach;
        if (!platform::run(spec))
            return;
        // Python's start and, with TLS, openssl making a key take seconds on a busy machine.
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (m_port == 0 && std::chrono::steady_clock::now() < deadline) {
            std::ifstream in{std::filesystem::path(port_file)};
            if (!(in >> m_port))
                std::this_thread::sleep_for(25ms);
        }
        m_base = std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port);
    }
    ~StandIn()
    {
        // The TLS server cannot be reached past its certificate; it ends soon when idle.
        if (m_port != 0 && !m_tls)
            (void)platform::HttpClient({}).send({.url = m_base + "/quit"});
        std::error_code ec;
        std::filesystem::remove_all(std::filesystem::path(m_folder), ec);
    }
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    bool started() const { return m_port != 0; }
    std::string url(std::string_view path) const { return m_base + std::string(path); }

private:
    bool m_tls;
    std::string m_folder;
    unsigned m_port = 0;
    std::string m_base;
};

// For requests whose outcome does not depend on time: a busy machine may be slow.
platform::HttpTimeouts roomy_timeouts()
{
    return {.connect = 20s, .read = 30s, .write = 30s};
}

// For the rows that test the read and write time-outs themselves.
platform::HttpTimeouts short_timeouts()
{
    return {.connect = 20s, .read = 400ms, .write = 400ms};
}

// The server's copy of a request, split into its head lines and its body.
struct RawRequest {
    std::string request_line;
    std::vector<std::string> header_lines;
    std::string body;

    static RawRequest parse(const std::string& raw)
    {
        RawRequest r;
        const auto end = raw.find("\r\n\r\n");
        std::string_view head = std::string_view(raw).substr(0, end);
        r.body = end == std::string::npos ? "" : raw.substr(end + 4);
        bool first = true;
        while (!head.empty()) {
            const auto eol = std::min(head.find("\r\n"), head.size());
            (first ? r.request_line : r.header_lines.emplace_back()) = std::string(head.substr(0, eol));
            first = false;
            head.remove_prefix(std::min(eol + 2, head.size()));
        }
        return r;
    }
    // The value of the named header (names compared without case), or nothing.
    std::optional<std::string> header(std::string_view name) const
    {
        for (const auto& line : header_lines) {
            const auto colon = line.find(':');
            if (colon == name.size()
                && std::ranges::equal(line.substr(0, colon), name,
                                      [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
                const auto start = line.find_first_not_of(' ', colon + 1);
                return start == std::string::npos ? "" : line.substr(start);
            }
        }
        return std::nullopt;
    }
};

std::string pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

// A streamed body over `data` with the length `declared`, handing out at most `piece` bytes
// per call. `over_asked` is set when a call offers more room than the declared rest. With
// `rewinds` the body can start again, and each rewind is counted there.
platform::HttpStreamBody stream_of(std::shared_ptr<const std::string> data, std::size_t piece,
                                   std::shared_ptr<bool> over_asked, std::uint64_t declared,
                                   std::shared_ptr<int> rewinds = nullptr)
{
    auto pos = std::make_shared<std::size_t>(0);
    platform::HttpStreamBody body{declared, [=](std::span<char> buf) -> core::Result<std::size_t> {
                                      if (buf.size() > declared - *pos)
                                          *over_asked = true;
                                      const std::size_t n = std::min({buf.size(), piece, data->size() - *pos});
                                      std::copy_n(data->data() + *pos, n, buf.data());
                                      *pos += n;
                                      return n;
                                  }};
    if (rewinds)
        body.rewind = [=]() -> core::Result<void> {
            *pos = 0;
            ++*rewinds;
            return core::ok();
        };
    return body;
}

// Sends a copy of a table row's request and keeps the whole reply.
core::Result<platform::HttpResponse> send_keeping_all(const platform::HttpClient& client, platform::HttpRequest request)
{
    request.max_body_bytes = reply_cap;
    return client.send(std::move(request));
}

class HttpClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = new StandIn(false); }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_server->started()) << "the stand-in server did not start"; }

    // "http://127.0.0.1:<port>" of a port where nothing listens, or empty.
    static std::string dead_address()
    {
        const platform::HttpClient client(roomy_timeouts());
        const auto reply = client.send({.url = s_server->url("/dead-port"), .max_body_bytes = 10});
        return reply && reply->status == 200 ? "http://127.0.0.1:" + reply->body : "";
    }

    static StandIn* s_server;
};
StandIn* HttpClientTest::s_server = nullptr;

TEST_F(HttpClientTest, RequestsArriveAsSent)
{
    const auto json = std::make_shared<const std::string>(R"({"username":"kim"})");
    // Over 1 MiB, where libcurl would otherwise ask for "100-continue".
    const auto big = std::make_shared<const std::string>(pattern(3 * 1024 * 1024 + 17));
    const auto over_asked = std::make_shared<bool>(false);

    struct Case {
        std::string_view name;
        platform::HttpRequest request;
        std::string request_line;
        std::vector<std::pair<std::string, std::optional<std::string>>> headers; // nothing: must be absent
        std::string body;
    };
    const Case cases[] = {
        {"get with headers",
         {.method = "GET", .url = s_server->url("/echo?code=%ED%9A%8C%20x"),
          .headers = {{"X-API-Key", "key 1"}, {"X-Empty", ""}}},
         "GET /echo?code=%ED%9A%8C%20x HTTP/1.1",
         {{"X-API-Key", "key 1"}, {"X-Empty", ""}, {"Accept", "*/*"}, {"Content-Length", std::nullopt},
          {"Transfer-Encoding", std::nullopt}, {"User-Agent", std::nullopt}},
         ""},
        {"post of bytes",
         {.method = "POST", .url = s_server->url("/echo"), .headers = {{"Content-Type", "application/json"}},
          .body = *json},
         "POST /echo HTTP/1.1",
         {{"Content-Type", "application/json"}, {"Content-Length", "18"}, {"Expect", std::nullopt},
          {"Transfer-Encoding", std::nullopt}},
         *json},
        {"streamed post in uneven pieces, own Content-Length dropped",
         {.method = "POST", .url = s_server->url("/echo"),
          .headers = {{"X-API-Key", "k"}, {"Content-Length", "5"}},
          .body = stream_of(big, 40'000, over_asked, big->size())},
         "POST /echo HTTP/1.1",
         {{"Content-Length", std::to_string(big->size())}, {"Transfer-Encoding", std::nullopt},
          {"Expect", std::nullopt}, {"Content-Type", std::nullopt}, {"X-API-Key", "k"}},
         *big},
        {"put of bytes",
         {.method = "PUT", .url = s_server->url("/echo"), .body = std::string("abc")},
         "PUT /echo HTTP/1.1",
         {{"Content-Length", "3"}},
         "abc"},
    };
    const platform::HttpClient client(roomy_timeouts());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto reply = send_keeping_all(client, c.request);
        ASSERT_TRUE(reply) << reply.error();
        EXPECT_EQ(reply->status, 200);
        EXPECT_FALSE(reply->body_truncated);
        EXPECT_FALSE(reply->body_error);
        const auto raw = RawRequest::parse(reply->body);
        EXPECT_EQ(raw.request_line, c.request_line);
        for (const auto& [name, value] : c.headers)
            EXPECT_EQ(raw.header(name), value) << name;
        EXPECT_EQ(raw.body.size(), c.body.size());
        EXPECT_TRUE(raw.body == c.body);
    }
    // The reader is never offered room past the declared length.
    EXPECT_FALSE(*over_asked);
}

TEST_F(HttpClientTest, ReplyBodyIsKeptUpToTheCap)
{
    struct Case {
        std::string_view name;
        std::size_t length;
        int status;
        std::size_t cap;
        bool truncated;
        std::optional<std::size_t> error_cap{};
    };
    const Case cases[] = {
        {"exactly the cap", 10, 200, 10, false},
        {"error reply cut at the error cap", 3'000'000, 502, 3'000'000, true, 1000},
        {"error reply of exactly the error cap", 1000, 413, 3'000'000, false, 1000},
        {"success reply past the error cap", 3000, 200, 3'000'000, false, 1000},
        {"redirect-class reply past the error cap", 3000, 399, 3'000'000, false, 1000},
        {"one byte over", 11, 200, 10, true},
        {"empty body, no cap", 0, 200, 0, false},
        {"cap zero with a body", 5, 401, 0, true},
        {"large error body", 3'000'000, 503, 1000, true},
        {"large body within the cap", 3'000'000, 201, 3'000'000, false},
        {"no cap", 3'000'000, 200, std::numeric_limits<std::size_t>::max(), false},
    };
    const platform::HttpClient client(roomy_timeouts());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto reply = client.send({.url = s_server->url("/bytes?n=" + std::to_string(c.length)
                                                             + "&status=" + std::to_string(c.status)),
                                        .max_body_bytes = c.cap,
                                        .max_error_body_bytes = c.error_cap});
        ASSERT_TRUE(reply) << reply.error();
        EXPECT_EQ(reply->status, c.status);
        EXPECT_EQ(reply->body_truncated, c.truncated);
        EXPECT_FALSE(reply->body_error);
        std::string expected;
        const std::size_t kept = c.status >= 400 ? std::min(c.cap, c.error_cap.value_or(c.cap)) : c.cap;
        for (std::size_t i = 0; i < std::min(c.length, kept); ++i)
            expected += char('0' + i % 10);
        EXPECT_TRUE(reply->body == expected) << reply->body.size();
    }
}

TEST_F(HttpClientTest, FollowsRedirectsOnlyWithinTheOriginAndMethod)
{
    const StandIn other(false);
    ASSERT_TRUE(other.started()) << "the second stand-in server did not start";
    const auto over_asked = std::make_shared<bool>(false);
    const auto payload = std::make_shared<const std::string>("payload");
    const auto big = std::make_shared<const std::string>(pattern(2 * 1024 * 1024 + 3));
    const auto rewinds = std::make_shared<int>(0);
    const auto elsewhere = [&](int code) {
        return s_server->url("/goto?code=" + std::to_string(code) + "&to=" + other.url("/echo"));
    };
    struct Case {
        std::string_view name;
        platform::HttpRequest request;
        std::optional<std::string> landing; // request line at the end; nothing: refused
        std::string landing_body;
        int rewinds = 0; // of a streamed body that can start again, when followed
        std::string refusal{}; // part of the failure's text
    };
    const Case cases[] = {
        {"five", {.url = s_server->url("/redirect/5")}, "GET /redirect/0 HTTP/1.1", ""},
        {"six", {.url = s_server->url("/redirect/6")}, std::nullopt, "", 0, "HTTP 302"},
        {"301 of a get", {.url = s_server->url("/redirect/1?code=301")}, "GET /redirect/0?code=301 HTTP/1.1", ""},
        {"303 of a get", {.url = s_server->url("/redirect/2?code=303")}, "GET /redirect/0?code=303 HTTP/1.1", ""},
        {"streamed post is not turned into a get by a 302",
         {.method = "POST", .url = s_server->url("/redirect/1"), .body = stream_of(payload, 100, over_asked, 7)},
         std::nullopt, "", 0, "HTTP 302"},
        {"post of bytes is not turned into a get by a 301",
         {.method = "POST", .url = s_server->url("/redirect/1?code=301"), .body = *payload}, std::nullopt, "", 0,
         "HTTP 301"},
        {"post of bytes is not turned into a get by a 303",
         {.method = "POST", .url = s_server->url("/redirect/1?code=303"), .body = *payload}, std::nullopt, "", 0,
         "HTTP 303"},
        {"post of bytes sent again after a 307",
         {.method = "POST", .url = s_server->url("/redirect/2?code=307"), .body = *payload},
         "POST /redirect/0?code=307 HTTP/1.1", *payload},
        {"post of bytes sent again after a 308",
         {.method = "POST", .url = s_server->url("/redirect/2?code=308"), .body = *payload},
         "POST /redirect/0?code=308 HTTP/1.1", *payload},
        {"streamed post that can start again is sent again after a 307",
         {.method = "POST", .url = s_server->url("/redirect/2?code=307"),
          .body = stream_of(big, 40'000, over_asked, big->size(), rewinds)},
         "POST /redirect/0?code=307 HTTP/1.1", *big, 2},
        {"streamed post that can start again is sent again after a 308",
         {.method = "POST", .url = s_server->url("/redirect/1?code=308"),
          .body = stream_of(payload, 3, over_asked, 7, rewinds)},
         "POST /redirect/0?code=308 HTTP/1.1", *payload, 1},
        {"streamed post cannot be sent again after a 307",
         {.method = "POST", .url = s_server->url("/redirect/1?code=307"),
          .body = stream_of(payload, 100, over_asked, 7)},
         std::nullopt, "", 0, "HTTP 307"},
        {"streamed post cannot be sent again after a 308",
         {.method = "POST", .url = s_server->url("/redirect/1?code=308"),
          .body = stream_of(payload, 100, over_asked, 7)},
         std::nullopt, "", 0, "HTTP 308"},
        {"get sent to another port by a 302", {.url = elsewhere(302), .headers = {{"X-API-Key", "k"}}}, std::nullopt,
         "", 0, "HTTP 302"},
        {"get sent to another port by a 301", {.url = elsewhere(301), .headers = {{"X-API-Key", "k"}}}, std::nullopt,
         "", 0, "HTTP 301"},
        {"post of bytes sent to another port by a 308",
         {.method = "POST", .url = elsewhere(308), .body = *payload}, std::nullopt, "", 0, "HTTP 308"},
        {"post of bytes sent to another port by a 307",
         {.method = "POST", .url = elsewhere(307), .body = *payload}, std::nullopt, "", 0, "HTTP 307"},
    };
    const platform::HttpClient client(roomy_timeouts());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        *rewinds = 0;
        const auto reply = send_keeping_all(client, c.request);
        // Every row is checked, so that one failure does not hide the others.
        if (c.landing) {
            if (!reply) {
                ADD_FAILURE() << reply.error();
                continue;
            }
            EXPECT_EQ(reply->status, 200);
            const auto raw = RawRequest::parse(reply->body);
            EXPECT_EQ(raw.request_line, *c.landing);
            EXPECT_EQ(raw.body.size(), c.landing_body.size());
            EXPECT_TRUE(raw.body == c.landing_body);
            EXPECT_EQ(*rewinds, c.rewinds);
        } else if (reply) {
            ADD_FAILURE() << "not refused: " << reply->status << " " << reply->body.substr(0, 200);
        } else {
            EXPECT_NE(reply.error().find(c.refusal), std::string::npos) << reply.error();
        }
    }
}

// The rule both clients follow, for replies that a test server cannot easily give (HTTPS
// with a trusted certificate) and for the edges of the URL forms.
TEST(RedirectRule, DecidesEachReply)
{
    using platform::http_parts::RedirectStep;
    using Kind = RedirectStep::Kind;
    const auto final_reply = RedirectStep{Kind::final_reply, "", ""};
    const auto follow = [](std::string url) { return RedirectStep{Kind::follow, std::move(url), ""}; };
    const auto refuse = [](std::string why) { return RedirectStep{Kind::refuse, "", std::move(why)}; };
    const std::string from = "https://svc.example:8443/api/desktop/auth?x=1";
    struct Case {
        std::string_view name;
        platform::http_parts::ReplyHead reply;
        RedirectStep expected;
    };
    const auto head = [&](std::uint16_t status, std::optional<std::string_view> location,
                          std::string_view method = "GET", std::string_view url = {}) {
        platform::http_parts::ReplyHead h;
        h.url = url.empty() ? std::string_view(from) : url;
        h.method = method;
        h.status = status;
        h.location = location;
        return h;
    };
    auto post_bytes = head(308, "/api/v2/auth", "POST");
    post_bytes.has_body = true;
    post_bytes.body_resendable = true;
    auto post_stream = post_bytes;
    post_stream.body_resendable = false;
    auto post_stream_307 = post_stream;
    post_stream_307.status = 307;
    auto not_followed = head(302, "/x");
    not_followed.policy = platform::Redirects::none;
    auto fifth = head(302, "/x");
    fifth.redirects_done = 4;
    auto sixth = head(302, "/x");
    sixth.redirects_done = 5;
    auto http_post_stream = head(308, "https://svc.example/api/desktop/auth", "POST", "http://svc.example/api/desktop/auth");
    http_post_stream.has_body = true;
    auto http_post_rewindable = http_post_stream;
    http_post_rewindable.body_resendable = true;
    auto http_sixth = head(302, "https://svc.example/x", "GET", "http://svc.example/a");
    http_sixth.redirects_done = 5;
    auto get_stream = head(302, "/x");
    get_stream.has_body = true;
    const Case cases[] = {
        {"200 with a Location is the reply", head(200, "https://elsewhere.example/"), final_reply},
        {"201 with a Location is the reply", head(201, "/created/7", "POST"), final_reply},
        {"304 is the reply", head(304, "/x"), final_reply},
        {"300 is the reply", head(300, "/x"), final_reply},
        {"a redirect without a Location is the reply", head(302, std::nullopt), final_reply},
        {"a redirect the request does not follow is the reply", not_followed, final_reply},
        {"308 of a get is followed", head(308, "/moved"), follow("https://svc.example:8443/moved")},
        {"308 of a post of bytes is followed", post_bytes, follow("https://svc.example:8443/api/v2/auth")},
        {"308 of a streamed post is refused", post_stream,
         refuse("redirect refused (HTTP 308): the request body cannot be sent again")},
        {"307 of a streamed post is refused", post_stream_307,
         refuse("redirect refused (HTTP 307): the request body cannot be sent again")},
        {"301 of a post is refused", head(301, "/x", "POST"),
         refuse("redirect refused (HTTP 301): a POST is not turned into a GET")},
        {"302 of a post is refused", head(302, "/x", "POST"),
         refuse("redirect refused (HTTP 302): a POST is not turned into a GET")},
        {"303 of a post is refused", head(303, "/x", "POST"),
         refuse("redirect refused (HTTP 303): a POST is not turned into a GET")},
        {"303 of a head keeps the head", head(303, "/x", "HEAD"), follow("https://svc.example:8443/x")},
        {"fifth redirect is followed", fifth, follow("https://svc.example:8443/x")},
        {"sixth redirect is refused", sixth, refuse("redirect refused (HTTP 302): more than 5 redirects")},
        {"https down to http on the same host and port", head(301, "http://svc.example:8443/api"),
         refuse("redirect refused (HTTP 301): it leads from HTTPS down to plain HTTP")},
        {"https down to http, scheme in capitals", head(302, "HTTP://svc.example:8443/api"),
         refuse("redirect refused (HTTP 302): it leads from HTTPS down to plain HTTP")},
        {"http up to https, both on their default ports", head(301, "https://svc.example/x", "GET", "http://svc.example/a"),
         follow("https://svc.example/x")},
        {"http up to https, the ports written out", head(308, "https://svc.example:443/x", "GET", "http://svc.example:80/a"),
         follow("https://svc.example:443/x")},
        {"http up to https, host in capitals", head(302, "https://svc.example/x", "GET", "http://SVC.EXAMPLE/a"),
         follow("https://svc.example/x")},
        {"http up to https on the same other port", head(307, "https://svc.example:8080/x", "GET", "http://svc.example:8080/a"),
         follow("https://svc.example:8080/x")},
        {"http up to https on the same port 443", head(302, "https://svc.example/x", "GET", "http://svc.example:443/a"),
         follow("https://svc.example/x")},
        {"http up to https, an IPv6 literal", head(308, "https://[::1]/x", "GET", "http://[::1]/a"),
         follow("https://[::1]/x")},
        {"http up to https from another port to the default", head(301, "https://svc.example/x", "GET", "http://svc.example:8080/a"),
         refuse("redirect refused (HTTP 301): it leads to another origin")},
        {"http up to https from the default to another port", head(301, "https://svc.example:8443/x", "GET", "http://svc.example/a"),
         refuse("redirect refused (HTTP 301): it leads to another origin")},
        {"http up to https, port 443 to port 80", head(302, "https://svc.example:80/x", "GET", "http://svc.example:443/a"),
         refuse("redirect refused (HTTP 302): it leads to another origin")},
        {"http up to https on another host", head(308, "https://other.example/x", "GET", "http://svc.example/a"),
         refuse("redirect refused (HTTP 308): it leads to another origin")},
        {"http up to https of a streamed post", http_post_stream,
         refuse("redirect refused (HTTP 308): the request body cannot be sent again")},
        {"http up to https of a streamed post that can start again", http_post_rewindable,
         follow("https://svc.example/api/desktop/auth")},
        {"http up to https does not turn a post into a get", head(301, "https://svc.example/x", "POST", "http://svc.example/a"),
         refuse("redirect refused (HTTP 301): a POST is not turned into a GET")},
        {"a sixth redirect from http up to https", http_sixth,
         refuse("redirect refused (HTTP 302): more than 5 redirects")},
        {"a streamed get is not sent again by a 302", get_stream,
         refuse("redirect refused (HTTP 302): the request body cannot be sent again")},
        {"another port", head(307, "https://svc.example:9443/api"),
         refuse("redirect refused (HTTP 307): it leads to another origin")},
        {"the default port is another port", head(302, "https://svc.example/api"),
         refuse("redirect refused (HTTP 302): it leads to another origin")},
        {"another host", head(302, "https://other.example:8443/api"),
         refuse("redirect refused (HTTP 302): it leads to another origin")},
        {"a network-path reference to another host", head(302, "//other.example:8443/api"),
         refuse("redirect refused (HTTP 302): it leads to another origin")},
        {"a host that only ends like ours", head(302, "https://svc.example.evil:8443/api"),
         refuse("redirect refused (HTTP 302): it leads to another origin")},
        {"user information in front of our host", head(302, "https://evil.example@svc.example:8443/"),
         refuse("redirect refused (HTTP 302): its Location is no usable http or https URL")},
        {"a backslash that some parsers read as a slash", head(302, "/\\other.example/"),
         refuse("redirect refused (HTTP 302): its Location is no usable http or https URL")},
        {"another scheme", head(302, "ftp://svc.example:8443/x"),
         refuse("redirect refused (HTTP 302): its Location is no usable http or https URL")},
        {"a port that is no number", head(302, "https://svc.example:84x3/x"),
         refuse("redirect refused (HTTP 302): its Location is no usable http or https URL")},
        {"same origin spelled in capitals, with the port", head(302, "HTTPS://SVC.Example:8443/b#frag"),
         follow("HTTPS://SVC.Example:8443/b")},
        {"the default port written out", head(302, "http://svc.example:80/b", "GET", "http://svc.example/a"),
         follow("http://svc.example:80/b")},
        {"relative path", head(302, "v2/auth"), follow("https://svc.example:8443/api/desktop/v2/auth")},
        {"relative path from an address without a path", head(302, "v2", "GET", "https://svc.example:8443"),
         follow("https://svc.example:8443/v2")},
        {"relative path from an address with only a query", head(302, "v2", "GET", "http://svc.example?a=1"),
         follow("http://svc.example/v2")},
        {"query only", head(302, "?y=2"), follow("https://svc.example:8443/api/desktop/auth?y=2")},
        {"IPv6 literal with its port", head(302, "/b", "GET", "http://[::1]:8080/a"), follow("http://[::1]:8080/b")},
        {"IPv6 literal on another port", head(302, "http://[::1]:8081/b", "GET", "http://[::1]:8080/a"),
         refuse("redirect refused (HTTP 302): it leads to another origin")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto step = platform::http_parts::next_redirect_step(c.reply);
        EXPECT_EQ(int(step.kind), int(c.expected.kind));
        EXPECT_EQ(step.url, c.expected.url);
        EXPECT_EQ(step.message, c.expected.message);
        // Callers tell a refusal from other failures by its text alone.
        EXPECT_EQ(platform::refused_redirect_status(step.message),
                  c.expected.kind == Kind::refuse ? std::optional<std::uint16_t>(c.reply.status) : std::nullopt);
    }
}

TEST_F(HttpClientTest, RedirectsAreRepliesWhenTheRequestFollowsNone)
{
    const auto over_asked = std::make_shared<bool>(false);
    const auto payload = std::make_shared<const std::string>("payload");
    struct Case {
        std::string_view name;
        platform::HttpRequest request;
        int status; // the redirect's own; a followed one would end in 200 at /redirect/0
    };
    const Case cases[] = {
        {"302 to a get", {.url = s_server->url("/redirect/1")}, 302},
        {"301 to a get", {.url = s_server->url("/redirect/1?code=301")}, 301},
        {"303 after a post", {.method = "POST", .url = s_server->url("/redirect/1?code=303"), .body = *payload}, 303},
        {"307 after a post of bytes",
         {.method = "POST", .url = s_server->url("/redirect/3?code=307"), .body = *payload}, 307},
        {"308 after a streamed post, which a followed redirect would fail",
         {.method = "POST", .url = s_server->url("/redirect/1?code=308"),
          .body = stream_of(payload, 100, over_asked, 7)},
         308},
    };
    const platform::HttpClient client(short_timeouts());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = c.request;
        request.redirects = platform::Redirects::none;
        const auto reply = send_keeping_all(client, std::move(request));
        ASSERT_TRUE(reply) << reply.error();
        EXPECT_EQ(reply->status, c.status);
        EXPECT_EQ(reply->body, "");
        EXPECT_FALSE(reply->body_error);
    }
}

TEST_F(HttpClientTest, FailuresWithoutAReplyCarryADescription)
{
    const std::string dead = dead_address();
    ASSERT_FALSE(dead.empty());

    const auto over_asked = std::make_shared<bool>(false);
    const auto big = std::make_shared<const std::string>(pattern(64 * 1024 * 1024));
    const auto payload = std::make_shared<const std::string>("payload");
    struct Case {
        std::string_view name;
        platform::HttpRequest request;
        std::optional<std::string> message; // nothing: any non-empty description
    };
    const Case cases[] = {
        {"connection refused", {.url = dead + "/echo"}, std::nullopt},
        // The reply comes long after the limit, however late the client is woken.
        {"read time-out on a slow server", {.url = s_server->url("/slow?ms=10000")}, std::nullopt},
        {"write time-out on a server that stops reading",
         {.method = "POST", .url = s_server->url("/no-read"), .body = stream_of(big, 65536, over_asked, big->size())},
         std::nullopt},
        {"body reader failure",
         {.method = "POST", .url = s_server->url("/echo"),
          .body = platform::HttpStreamBody{10, [](std::span<char>) -> core::Result<std::size_t> {
                                               return core::fail("disk went away");
                                           }}},
         "disk went away"},
        {"body that cannot start again for a 307",
         {.method = "POST", .url = s_server->url("/redirect/1?code=307"),
          .body = platform::HttpStreamBody{7, stream_of(payload, 100, over_asked, 7).read,
                                           []() -> core::Result<void> { return core::fail("cannot seek"); }}},
         "cannot seek"},
        {"body shorter than declared",
         {.method = "POST", .url = s_server->url("/echo"),
          .body = stream_of(std::make_shared<const std::string>("short"), 100, over_asked, 50)},
         "the request body ended before its declared length"},
        {"unsupported scheme", {.url = "ftp://127.0.0.1/x"}, std::nullopt},
        {"header value that would start a header of its own",
         {.url = s_server->url("/echo"), .headers = {{"X-API-Key", "k\r\nX-Injected: 1"}}},
         "invalid HTTP header"},
        {"header name with a blank",
         {.url = s_server->url("/echo"), .headers = {{"X API", "k"}}},
         "invalid HTTP header"},
        {"method with a blank", {.method = "GET /other", .url = s_server->url("/echo")}, "invalid HTTP method"},
    };
    const platform::HttpClient client(short_timeouts());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto reply = client.send(c.request);
        ASSERT_FALSE(reply) << reply->status;
        if (c.message)
            EXPECT_EQ(reply.error(), *c.message);
        else
            EXPECT_FALSE(reply.error().empty());
        EXPECT_EQ(platform::refused_redirect_status(reply.error()), std::nullopt);
    }
}

TEST_F(HttpClientTest, BodyCutShortAfterTheHeadIsAReplyWithAnError)
{
    const platform::HttpClient client(roomy_timeouts());
    const auto reply = client.send({.url = s_server->url("/short-body"), .max_body_bytes = 1000});
    ASSERT_TRUE(reply) << reply.error();
    EXPECT_EQ(reply->status, 200);
    ASSERT_TRUE(reply->body_error);
    EXPECT_FALSE(reply->body_error->empty());
    EXPECT_EQ(reply->body, "0123456789");
}

TEST_F(HttpClientTest, ProxyVariablesAreIgnored)
{
    const std::string proxy = dead_address();
    ASSERT_FALSE(proxy.empty());
    std::vector<std::unique_ptr<test_support::ScopedEnv>> env;
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        env.push_back(std::make_unique<test_support::ScopedEnv>(name, proxy));
    env.push_back(std::make_unique<test_support::ScopedEnv>("no_proxy", std::nullopt));
    env.push_back(std::make_unique<test_support::ScopedEnv>("NO_PROXY", std::nullopt));

    const auto reply = send_keeping_all(platform::HttpClient(roomy_timeouts()), {.url = s_server->url("/echo")});
    ASSERT_TRUE(reply) << reply.error();
    EXPECT_EQ(reply->status, 200);
    // A request through a proxy would name the whole URL on its request line.
    EXPECT_EQ(RawRequest::parse(reply->body).request_line, "GET /echo HTTP/1.1");
}

TEST(HttpClientTls, SelfSignedCertificateFailsVerification)
{
    const StandIn server(true);
    ASSERT_TRUE(server.started()) << "the TLS stand-in server did not start";
    const auto reply = platform::HttpClient(roomy_timeouts()).send({.url = server.url("/echo"), .max_body_bytes = 100});
    ASSERT_FALSE(reply) << reply->status;
    EXPECT_FALSE(reply.error().empty());
}

} // namespace
