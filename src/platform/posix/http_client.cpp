#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/http_client.h"

#include "platform/http_client_parts.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#ifdef VANO_HAVE_CA_BUNDLE
extern const unsigned char vano_ca_bundle[];
extern const std::size_t vano_ca_bundle_size;
#endif

namespace platform {
namespace {

using namespace http_parts;

using Clock = std::chrono::steady_clock;

// Longest single wait inside libcurl's loop, so that a stall is noticed promptly.
constexpr int max_poll_ms = 100;
// libcurl's upload buffer. Its 64 KiB default costs a read callback, a send and a poll per
// 64 KiB, a large share of the time of a fast upload; much larger buffers fall out of the
// CPU caches and are slower again (measured by bench/upload.sh).
constexpr long upload_buffer_bytes = 256L << 10;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Everything the callbacks of one transfer share.
struct Transfer {
    CURL* easy = nullptr;
    const HttpRequest* request = nullptr;
    std::uint64_t body_length = 0;
    std::uint64_t body_sent = 0;
    std::optional<std::string> reader_error;

    std::size_t max_body_bytes = 0;
    HttpResponse response;

    bool connected = false;
    Clock::time_point last_activity = Clock::now();

    // The final head (not a 1xx) has ended.
    bool head_complete = false;
    std::optional<std::string> location;

    void touch() { last_activity = Clock::now(); }
};

std::size_t read_body(char* buffer, std::size_t size, std::size_t count, void* user)
{
    auto& t = *static_cast<Transfer*>(user);
    const std::uint64_t left = t.body_length - t.body_sent;
    const std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>(left, std::uint64_t(size) * count));
    if (room == 0)
        return 0;
    std::size_t given = 0;
    if (const auto* bytes = std::get_if<std::string>(&t.request->body)) {
        std::memcpy(buffer, bytes->data() + t.body_sent, room);
        given = room;
    } else {
        auto piece = std::get<HttpStreamBody>(t.request->body).read(std::span<char>(buffer, room));
        if (!piece) {
            t.reader_error = std::move(piece).error();
            return CURL_READFUNC_ABORT;
        }
        // An early end would leave the server waiting for the declared rest.
        if (*piece == 0) {
            t.reader_error = std::string(body_ended_early);
            return CURL_READFUNC_ABORT;
        }
        given = std::min(*piece, room);
    }
    t.body_sent += given;
    t.touch();
    return given;
}

std::size_t write_body(char* data, std::size_t size, std::size_t count, void* user)
{
    auto& t = *static_cast<Transfer*>(user);
    t.touch();
    const std::size_t n = size * count;
    std::size_t cap = t.max_body_bytes;
    long code = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 400 && t.request->max_error_body_bytes)
        cap = std::min(cap, *t.request->max_error_body_bytes);
    const std::size_t room = cap - std::min(cap, t.response.body.size());
    if (n > room) {
        t.response.body.append(data, room);
        t.response.body_truncated = true;
        return 0; // stops the transfer: the rest is not wanted
    }
    t.response.body.append(data, n);
    return n;
}

std::size_t read_header(char* data, std::size_t size, std::size_t count, void* user)
{
    auto& t = *static_cast<Transfer*>(user);
    t.touch();
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        t.location.reset();
    } else if (starts_with_ignoring_case(line, "location:")) {
        std::string_view value = line.substr(9);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        t.location = std::string(value);
    } else if (line == "\r\n" || line == "\n") {
        long code = 0;
        curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &code);
        if (code >= 200)
            t.head_complete = true;
    }
    return size * count;
}

int connection_ready(void* user, char*, char*, int, int)
{
    auto& t = *static_cast<Transfer*>(user);
    t.connected = true;
    t.touch();
    return CURL_PREREQFUNC_OK;
}

core::Result<curl_slist*> append_header(curl_slist* list, const std::string& line)
{
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr)
        return core::fail(curl_easy_strerror(CURLE_OUT_OF_MEMORY));
    return grown;
}

// libcurl's header list syntax: "Name:" would remove a header, "Name;" sends it empty.
core::Result<std::unique_ptr<curl_slist, ListDeleter>> header_list(const HttpRequest& request, bool has_body)
{
    std::unique_ptr<curl_slist, ListDeleter> list;
    bool content_type_given = false;
    for (const auto& h : request.headers) {
        if (equals_ignoring_case(h.name, "Content-Type"))
            content_type_given = true;
        const std::string line = h.value.empty() ? h.name + ";" : h.name + ": " + h.value;
        list.reset(VANO_TRY(append_header(list.release(), line)));
    }
    // Without this libcurl asks large bodies for "100-continue" and waits for it.
    list.reset(VANO_TRY(append_header(list.release(), "Expect:")));
    // A POST would otherwise claim a form-encoded body.
    if (has_body && !content_type_given)
        list.reset(VANO_TRY(append_header(list.release(), "Content-Type:")));
    return list;
}

void init_curl_once()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

core::Result<void> check(CURLcode code)
{
    if (code != CURLE_OK)
        return core::fail(curl_easy_strerror(code));
    return core::ok();
}

core::Result<void> configure(CURL* easy, const HttpRequest& request, const std::string& url,
                             const HttpTimeouts& timeouts, Transfer& t, curl_slist* headers)
{
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_URL, url.c_str())));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https")));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1))));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L)));
    // Redirects are followed by perform(), under the rule shared with the Windows client.
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L)));
    // Never a proxy, whatever http_proxy, HTTPS_PROXY, ALL_PROXY or NO_PROXY say.
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_PROXY, "")));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_NOPROXY, "*")));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(timeouts.connect.count()))));

    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L)));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L)));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2))));
#ifdef VANO_HAVE_CA_BUNDLE
    // Only the compiled-in roots count, not whatever the machine's files hold.
    curl_blob roots{const_cast<unsigned char*>(vano_ca_bundle), vano_ca_bundle_size, CURL_BLOB_NOCOPY};
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &roots)));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr)));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr)));
#endif

    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers)));
    const bool has_body = !std::holds_alternative<std::monostate>(request.body);
    if (has_body) {
        VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_POST, 1L)));
        VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(t.body_length))));
        VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, upload_buffer_bytes)));
        VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_READFUNCTION, read_body)));
        VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_READDATA, &t)));
        // No seek callback: libcurl rewinds a body only for redirects and authentication
        // of its own and for a reused connection, none of which happen here (each request
        // of a redirect is a new handle); a rewind it needed would fail the transfer.
    }
    // A new handle sends GET unless told otherwise.
    if (request.method == "HEAD")
        VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_NOBODY, 1L)));
    else if (request.method != (has_body ? "POST" : "GET"))
        VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str())));

    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, write_body)));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t)));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, read_header)));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t)));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, connection_ready)));
    VANO_TRY(check(curl_easy_setopt(easy, CURLOPT_PREREQDATA, &t)));
    return core::ok();
}

// One request to `url` and its reply, the reply's Location with it.
struct Hop {
    HttpResponse response;
    std::optional<std::string> location;
};

core::Result<Hop> perform_once(const HttpRequest& request, const std::string& url, const HttpTimeouts& timeouts)
{
    const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    const std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi)
        return core::fail(curl_easy_strerror(CURLE_FAILED_INIT));

    Transfer t;
    t.easy = easy.get();
    t.request = &request;
    t.body_length = body_length(request);
    t.max_body_bytes = request.max_body_bytes;

    const bool has_body = !std::holds_alternative<std::monostate>(request.body);
    const auto headers = VANO_TRY(header_list(request, has_body));
    VANO_TRY(configure(easy.get(), request, url, timeouts, t, headers.get()));
    // The multi interface lets this loop enforce the read and write time-outs to the
    // millisecond; libcurl itself only knows a per-second low-speed limit.
    if (curl_multi_add_handle(multi.get(), easy.get()) != CURLM_OK)
        return core::fail(curl_easy_strerror(CURLE_FAILED_INIT));
    CURLcode result = CURLE_OK;
    bool stalled = false;
    for (;;) {
        int running = 0;
        const CURLMcode step = curl_multi_perform(multi.get(), &running);
        if (step != CURLM_OK) {
            curl_multi_remove_handle(multi.get(), easy.get());
            return core::fail(curl_multi_strerror(step));
        }
        if (running == 0) {
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left))
                if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy.get())
                    result = msg->data.result;
            break;
        }
        int wait_ms = max_poll_ms;
        if (t.connected) {
            const bool sending = has_body && t.body_sent < t.body_length;
            const auto limit = sending ? timeouts.write : timeouts.read;
            const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t.last_activity);
            if (idle >= limit) {
                stalled = true;
                result = CURLE_OPERATION_TIMEDOUT;
                break;
            }
            wait_ms = int(std::clamp<std::chrono::milliseconds::rep>((limit - idle).count(), 1, max_poll_ms));
        }
        curl_multi_poll(multi.get(), nullptr, 0, wait_ms, nullptr);
    }
    curl_multi_remove_handle(multi.get(), easy.get());

    long code = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &code);
    t.response.status = static_cast<std::uint16_t>(std::clamp(code, 0L, 65535L));

    if (result == CURLE_OK || (result == CURLE_WRITE_ERROR && t.response.body_truncated && !stalled))
        return Hop{std::move(t.response), std::move(t.location)};
    std::string cause = t.reader_error ? *t.reader_error : curl_easy_strerror(result);
    if (t.head_complete && !t.reader_error) {
        t.response.body_error = std::move(cause);
        return Hop{std::move(t.response), std::move(t.location)};
    }
    return core::fail(std::move(cause));
}

} // namespace

core::Result<HttpResponse> HttpClient::perform(HttpRequest request) const
{
    init_curl_once();
    const bool has_body = !std::holds_alternative<std::monostate>(request.body);
    std::string url = request.url;
    for (int redirects = 0;; ++redirects) {
        Hop hop = VANO_TRY(perform_once(request, url, m_timeouts));
        const auto location = hop.location ? std::optional<std::string_view>(*hop.location) : std::nullopt;
        auto step = next_redirect_step({.url = url, .method = request.method, .has_body = has_body,
                                        .body_resendable = body_resendable(request),
                                        .policy = request.redirects, .redirects_done = redirects,
                                        .status = hop.response.status, .location = location});
        if (step.kind == RedirectStep::Kind::final_reply)
            return std::move(hop.response);
        if (step.kind == RedirectStep::Kind::refuse)
            return core::fail(std::move(step.message));
        VANO_TRY(rewind_body(request));
        url = std::move(step.url);
    }
}

} // namespace platform
