#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/http_client.h"

#include "platform/http_client_parts.h"
#include "platform/os_error.h"
#include "platform/win32/handle.h"
#include "platform/win32/system_library.h"
#include "platform/win32/wide.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <string_view>
#include <utility>

namespace platform {
namespace {

using namespace http_parts;

constexpr DWORD wsa_timed_out = 10060;
// Pieces of 16–64 KiB keep WinHTTP's per-write cost small.
constexpr std::size_t io_piece_bytes = 64 * 1024;

// WinHTTP is not on the KnownDLLs list: it is loaded from the system folder when the first
// request is sent, never imported (see system_library.h).
struct WinHttp {
    HMODULE module = nullptr;
    decltype(&::WinHttpOpen) open = nullptr;
    decltype(&::WinHttpCloseHandle) close_handle = nullptr;
    decltype(&::WinHttpSetTimeouts) set_timeouts = nullptr;
    decltype(&::WinHttpSetOption) set_option = nullptr;
    decltype(&::WinHttpCrackUrl) crack_url = nullptr;
    decltype(&::WinHttpConnect) connect = nullptr;
    decltype(&::WinHttpOpenRequest) open_request = nullptr;
    decltype(&::WinHttpSendRequest) send_request = nullptr;
    decltype(&::WinHttpWriteData) write_data = nullptr;
    decltype(&::WinHttpReceiveResponse) receive_response = nullptr;
    decltype(&::WinHttpQueryHeaders) query_headers = nullptr;
    decltype(&::WinHttpReadData) read_data = nullptr;
};

core::Result<WinHttp> load_winhttp()
{
    WinHttp api;
    api.module = VANO_TRY(win32::load_system_library(L"winhttp.dll"));
    VANO_TRY(win32::bind_function(api.open, api.module, "WinHttpOpen"));
    VANO_TRY(win32::bind_function(api.close_handle, api.module, "WinHttpCloseHandle"));
    VANO_TRY(win32::bind_function(api.set_timeouts, api.module, "WinHttpSetTimeouts"));
    VANO_TRY(win32::bind_function(api.set_option, api.module, "WinHttpSetOption"));
    VANO_TRY(win32::bind_function(api.crack_url, api.module, "WinHttpCrackUrl"));
    VANO_TRY(win32::bind_function(api.connect, api.module, "WinHttpConnect"));
    VANO_TRY(win32::bind_function(api.open_request, api.module, "WinHttpOpenRequest"));
    VANO_TRY(win32::bind_function(api.send_request, api.module, "WinHttpSendRequest"));
    VANO_TRY(win32::bind_function(api.write_data, api.module, "WinHttpWriteData"));
    VANO_TRY(win32::bind_function(api.receive_response, api.module, "WinHttpReceiveResponse"));
    VANO_TRY(win32::bind_function(api.query_headers, api.module, "WinHttpQueryHeaders"));
    VANO_TRY(win32::bind_function(api.read_data, api.module, "WinHttpReadData"));
    return api;
}

// Loaded once per process; the outcome, failure included, is kept.
const core::Result<WinHttp>& loaded_winhttp()
{
    static const core::Result<WinHttp> api = load_winhttp();
    return api;
}

// The functions; only for code that runs after perform() has seen them loaded.
const WinHttp& http() { return *loaded_winhttp(); }

struct InternetHandleTraits : win32::KernelHandleTraits {
    static bool close(HINTERNET h) { return http().close_handle(h) != FALSE; }
};
using Handle = UniqueHandle<InternetHandleTraits>;

// Texts of the WinHTTP codes that a request can end in, for systems whose winhttp.dll
// carries no message table (wine).
std::string_view known_winhttp_text(DWORD code)
{
    struct Known {
        DWORD code;
        std::string_view text;
    };
    static constexpr Known known[] = {
        {ERROR_WINHTTP_TIMEOUT, "The operation timed out"},
        {ERROR_WINHTTP_INTERNAL_ERROR, "An internal error occurred in WinHTTP"},
        {ERROR_WINHTTP_INVALID_URL, "The URL is invalid"},
        {ERROR_WINHTTP_UNRECOGNIZED_SCHEME, "The URL specified a scheme other than \"http:\" or \"https:\""},
        {ERROR_WINHTTP_NAME_NOT_RESOLVED, "The server name cannot be resolved"},
        {ERROR_WINHTTP_INVALID_OPTION, "A request specified an invalid option value"},
        {ERROR_WINHTTP_OPERATION_CANCELLED, "The operation was canceled"},
        {ERROR_WINHTTP_CANNOT_CONNECT, "The attempt to connect to the server failed"},
        {ERROR_WINHTTP_CONNECTION_ERROR, "The connection with the server has been reset or terminated"},
        {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, "The server's certificate date is invalid or has expired"},
        {ERROR_WINHTTP_SECURE_CERT_CN_INVALID, "The server's certificate does not match the host name"},
        {ERROR_WINHTTP_SECURE_INVALID_CA, "The server's certificate was issued by an untrusted authority"},
        {ERROR_WINHTTP_SECURE_CERT_REV_FAILED, "The revocation of the server's certificate could not be checked"},
        {ERROR_WINHTTP_SECURE_CERT_REVOKED, "The server's certificate has been revoked"},
        {ERROR_WINHTTP_SECURE_INVALID_CERT, "The server's certificate is invalid"},
        {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "An error occurred in the secure channel"},
        {ERROR_WINHTTP_SECURE_FAILURE, "The server's certificate failed verification"},
        {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, "The server response could not be parsed"},
        {ERROR_WINHTTP_REDIRECT_FAILED, "The redirection failed: the scheme changed or the redirect limit was reached"},
        {ERROR_WINHTTP_HEADER_NOT_FOUND, "The requested header could not be located"},
    };
    for (const auto& k : known)
        if (k.code == code)
            return k.text;
    return {};
}

// WinHTTP's own codes (12000-12999) take their texts from winhttp.dll, the rest are the
// system's; both in the "<text> (os error <code>)" form of every OS error. A time-out also
// comes back as the socket's WSAETIMEDOUT, which is reported as WinHTTP's own.
std::string winhttp_error_text(DWORD code)
{
    if (code == wsa_timed_out)
        code = ERROR_WINHTTP_TIMEOUT;
    if (code < 12000 || code >= 13000)
        return os_error_text(static_cast<int>(code));
    std::string message;
    if (const auto& api = loaded_winhttp()) {
        const HMODULE module = api->module;
        wchar_t* buffer = nullptr;
        const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS
                                           | FORMAT_MESSAGE_FROM_HMODULE,
                                       module, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        if (buffer != nullptr) {
            std::wstring text(buffer, n);
            LocalFree(buffer);
            while (!text.empty() && std::wstring_view(L"\r\n .").find(text.back()) != std::wstring_view::npos)
                text.pop_back();
            message = win32::narrow(text);
        }
    }
    if (message.empty())
        message = known_winhttp_text(code);
    if (message.empty())
        message = "WinHTTP error";
    return message + " (os error " + std::to_string(code) + ")";
}

core::Result<void> check(BOOL ok)
{
    if (!ok)
        return core::fail(winhttp_error_text(GetLastError()));
    return core::ok();
}

DWORD clamp_ms(std::chrono::milliseconds ms)
{
    return static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(ms.count(), 1, 0x7fffffff));
}

std::wstring header_block(const HttpRequest& request)
{
    std::wstring block;
    for (const auto& h : request.headers)
        block += win32::widen(h.name) + L": " + win32::widen(h.value) + L"\r\n";
    return block;
}

core::Result<void> write_all(HINTERNET request, const char* data, std::size_t size)
{
    while (size > 0) {
        DWORD written = 0;
        VANO_TRY(check(http().write_data(request, data, static_cast<DWORD>(size), &written)));
        data += written;
        size -= written;
    }
    return core::ok();
}

core::Result<void> stream_body(HINTERNET request, const HttpStreamBody& body)
{
    std::vector<char> buffer(io_piece_bytes);
    std::uint64_t left = body.length;
    while (left > 0) {
        const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        const std::size_t n = std::min(VANO_TRY(body.read(std::span<char>(buffer.data(), room))), room);
        // An early end would leave the server waiting for the declared rest.
        if (n == 0)
            return core::fail(std::string(body_ended_early));
        VANO_TRY(write_all(request, buffer.data(), n));
        left -= n;
    }
    return core::ok();
}

std::optional<std::wstring> query_header(HINTERNET request, DWORD info)
{
    DWORD size = 0;
    http().query_headers(request, info, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return std::nullopt;
    std::wstring value(size / sizeof(wchar_t), L'\0');
    if (!http().query_headers(request, info, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                              WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    value.resize(size / sizeof(wchar_t));
    return value;
}

// Reads the reply's body up to the cap; one byte more tells that more came.
void read_body(HINTERNET request, std::size_t cap, bool body_expected, HttpResponse& response)
{
    std::vector<char> buffer(io_piece_bytes);
    for (;;) {
        const std::size_t room = cap - response.body.size();
        const std::size_t want = room >= buffer.size() ? buffer.size() : room + 1;
        DWORD got = 0;
        if (!http().read_data(request, buffer.data(), static_cast<DWORD>(want), &got)) {
            response.body_error = winhttp_error_text(GetLastError());
            return;
        }
        if (got == 0)
            break;
        const std::size_t keep = std::min<std::size_t>(got, cap - response.body.size());
        response.body.append(buffer.data(), keep);
        if (keep < got) {
            response.body_truncated = true;
            return;
        }
    }
    // A connection closed before the declared length is a broken reply, not its end.
    DWORD declared = 0;
    DWORD size = sizeof declared;
    if (body_expected
        && http().query_headers(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                WINHTTP_HEADER_NAME_BY_INDEX, &declared, &size, WINHTTP_NO_HEADER_INDEX)
        && response.body.size() < declared)
        response.body_error = winhttp_error_text(ERROR_WINHTTP_CONNECTION_ERROR);
}

// One request and the head of its reply, the handles kept open for reading the body.
struct Exchange {
    Handle connection;
    Handle request;
    DWORD status = 0;
};

struct Hop {
    std::string url;
    std::string method;
    const std::variant<std::monostate, std::string, HttpStreamBody>* body;
};

core::Result<Exchange> exchange(HINTERNET session, const Hop& hop, const std::wstring& headers, DWORD read_ms)
{
    const std::wstring url = win32::widen(hop.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = DWORD(-1);
    parts.dwUrlPathLength = DWORD(-1);
    parts.dwExtraInfoLength = DWORD(-1);
    VANO_TRY(check(http().crack_url(url.c_str(), 0, 0, &parts)));
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return core::fail(winhttp_error_text(ERROR_WINHTTP_UNRECOGNIZED_SCHEME));
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring target = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength)
                          + std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    target = target.substr(0, target.find(L'#'));
    if (target.empty())
        target = L"/";

    Exchange ex{Handle(http().connect(session, host.c_str(), parts.nPort, 0)), Handle(nullptr)};
    if (!ex.connection)
        return core::fail(winhttp_error_text(GetLastError()));
    const wchar_t* accept[] = {L"*/*", nullptr};
    const std::wstring method = win32::widen(hop.method);
    ex.request = Handle(http().open_request(ex.connection.get(), method.c_str(), target.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, accept,
                                            parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    const HINTERNET req = ex.request.get();
    if (req == nullptr)
        return core::fail(winhttp_error_text(GetLastError()));
    // Each request has a connection of its own: none is kept for a later one.
    DWORD features = WINHTTP_DISABLE_KEEP_ALIVE;
    VANO_TRY(check(http().set_option(req, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features)));
    // The receive time-out alone does not bound the wait for the reply's head.
    VANO_TRY(check(http().set_option(req, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &read_ms, sizeof read_ms)));

    const wchar_t* header_text = headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str();
    const DWORD header_length = headers.empty() ? 0 : DWORD(-1);
    if (const auto* bytes = std::get_if<std::string>(hop.body)) {
        VANO_TRY(check(http().send_request(req, header_text, header_length, const_cast<char*>(bytes->data()),
                                           DWORD(bytes->size()), DWORD(bytes->size()), 0)));
    } else if (const auto* stream = std::get_if<HttpStreamBody>(hop.body)) {
        VANO_TRY(check(http().send_request(req, header_text, header_length, WINHTTP_NO_REQUEST_DATA, 0,
                                           DWORD(stream->length), 0)));
        VANO_TRY(stream_body(req, *stream));
    } else {
        VANO_TRY(check(http().send_request(req, header_text, header_length, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)));
    }
    VANO_TRY(check(http().receive_response(req, nullptr)));
    DWORD size = sizeof ex.status;
    VANO_TRY(check(http().query_headers(req, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                        WINHTTP_HEADER_NAME_BY_INDEX, &ex.status, &size, WINHTTP_NO_HEADER_INDEX)));
    return ex;
}

} // namespace

core::Result<HttpResponse> HttpClient::perform(HttpRequest request) const
{
    if (body_length(request) > 0xffffffffULL)
        return core::fail(winhttp_error_text(ERROR_INVALID_PARAMETER));
    if (const auto& api = loaded_winhttp(); !api)
        return core::fail("winhttp.dll: " + api.error());

    // No User-Agent unless the caller sets one, as with libcurl; never a proxy, whatever
    // the environment or the system's settings say.
    const Handle session(http().open(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        return core::fail(winhttp_error_text(GetLastError()));
    const DWORD connect_ms = clamp_ms(m_timeouts.connect);
    const DWORD read_ms = clamp_ms(m_timeouts.read);
    VANO_TRY(check(http().set_timeouts(session.get(), int(connect_ms), int(connect_ms),
                                       int(clamp_ms(m_timeouts.write)), int(read_ms))));
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    // Older systems refuse the TLS 1.3 flag; TLS 1.2 alone is then the floor and the ceiling.
    if (!http().set_option(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        VANO_TRY(
            check(http().set_option(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)));
    }
    // Redirects are followed here, under the rule shared with the POSIX client.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    VANO_TRY(check(http().set_option(session.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy)));

    const std::wstring headers = header_block(request);
    const bool has_body = !std::holds_alternative<std::monostate>(request.body);
    Hop hop{request.url.substr(0, request.url.find('#')), request.method, &request.body};
    for (int redirects = 0;; ++redirects) {
        Exchange ex = VANO_TRY(exchange(session.get(), hop, headers, read_ms));
        const auto location = is_redirect_status(ex.status) ? query_header(ex.request.get(), WINHTTP_QUERY_LOCATION)
                                                            : std::nullopt;
        const std::string location_text = location ? win32::narrow(*location) : std::string();
        auto step = next_redirect_step(
            {.url = hop.url, .method = hop.method, .has_body = has_body,
             .body_resendable = body_resendable(request), .policy = request.redirects,
             .redirects_done = redirects, .status = static_cast<std::uint16_t>(std::min<DWORD>(ex.status, 65535)),
             .location = location ? std::optional<std::string_view>(location_text) : std::nullopt});
        if (step.kind == RedirectStep::Kind::refuse)
            return core::fail(std::move(step.message));
        if (step.kind == RedirectStep::Kind::final_reply) {
            HttpResponse response;
            response.status = static_cast<std::uint16_t>(std::min<DWORD>(ex.status, 65535));
            // RFC 9110 section 6.4.1: these replies have no body whatever their Content-Length.
            const bool body_expected = hop.method != "HEAD" && ex.status != 204 && ex.status != 304;
            const std::size_t cap = ex.status >= 400 && request.max_error_body_bytes
                                        ? std::min(request.max_body_bytes, *request.max_error_body_bytes)
                                        : request.max_body_bytes;
            read_body(ex.request.get(), cap, body_expected, response);
            return response;
        }
        VANO_TRY(rewind_body(request));
        hop.url = std::move(step.url);
    }
}

} // namespace platform
