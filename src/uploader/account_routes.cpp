#include "uploader/account_routes.h"

#include "config/desktop_config.h"
#include "platform/unicode.h"
#include "server/json_body.h"
#include "uploader/remote_client.h"

#include <string>
#include <utility>
#include <vector>

namespace uploader {

namespace {

constexpr std::string_view auth_expired_marker = "AUTH_EXPIRED";

server::RouteReply detail_reply(std::uint16_t status, std::string message)
{
    return {status, server::Json{{"detail", std::move(message)}}};
}

std::string current_base_url(server::ServerState& state)
{
    return base_url(state.config_snapshot().server_url);
}

// RFC 3986 unreserved bytes stay; every other byte is %XX, so a blank is "%20".
std::string percent_encode(std::string_view text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        const bool unreserved = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                                b == '-' || b == '.' || b == '_' || b == '~';
        if (unreserved) {
            out += ch;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        }
    }
    return out;
}

// A success whose body broke off is a failed transfer, like one with no reply at all.
core::Result<platform::HttpResponse> send_call(std::string method, std::string url,
                                               std::vector<platform::HttpHeader> headers = {},
                                               std::optional<std::string> body = std::nullopt)
{
    platform::HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.headers = std::move(headers);
    if (body)
        request.body = std::move(*body);
    request.max_body_bytes = max_reply_body_bytes;
    request.max_error_body_bytes = max_error_body_bytes;
    auto reply = make_agent(false).send(std::move(request));
    if (reply && reply->status < 400 && reply->body_error)
        return core::fail(*reply->body_error);
    return reply;
}

} // namespace

server::RouteReply handle_login(server::ServerState& state, std::string_view body)
{
    const server::Json request_body = server::body_json(body);
    const std::string username = server::body_text(request_body, "username");
    const std::string password = server::body_text(request_body, "password");
    const std::string base = current_base_url(state);

    const server::Json login = {
        {"device_name", "Windows"},
        {"password", password},
        {"username", platform::trim_unicode_ws(username)},
    };
    auto reply = send_call("POST", base + "/api/desktop/auth", {{"Content-Type", "application/json"}},
                           login.dump(-1, ' ', false, server::Json::error_handler_t::replace));
    if (!reply)
        return detail_reply(401, "서버 연결 실패 (" + base + "): " + reply.error());
    if (reply->status >= 400)
        return detail_reply(401, read_api_result(*reply));
    const auto answer = parse_success_body(*reply);
    if (!answer)
        return detail_reply(401, "서버 응답 파싱 실패: " + answer.error());
    auto api_key = reply_text(*answer, "api_key");
    if (!api_key || api_key->empty())
        return detail_reply(401, "API 인증키를 발급받지 못했습니다.");

    config::DesktopConfig fresh{
        .server_url = base,
        .api_key = std::move(*api_key),
        .username = reply_text(*answer, "username").value_or(username),
        .org_name = reply_text(*answer, "org_name").value_or(""),
        .admin_name = reply_text(*answer, "admin_name").value_or(""),
        .role = reply_text(*answer, "role").value_or("user"),
    };
    if (auto saved = config::save_config(fresh); !saved)
        return detail_reply(500, saved.error());

    server::Json out = {
        {"admin_name", fresh.admin_name},
        {"org_name", fresh.org_name},
        {"success", true},
        {"username", fresh.username},
    };
    state.replace_config(std::move(fresh));
    return {200, std::move(out)};
}

server::RouteReply handle_quota(server::ServerState& state)
{
    const config::DesktopConfig cfg = state.config_snapshot();
    if (cfg.api_key.empty())
        return {401, server::Json{{"authenticated", false}}};

    auto reply = send_call("GET", base_url(cfg.server_url) + "/api/me", {{"X-API-Key", cfg.api_key}});
    if (!reply)
        return detail_reply(400, "네트워크 오류: " + reply.error());

    std::string message;
    if (reply->status == 401 || reply->status == 403) {
        message = auth_expired_marker;
    } else if (reply->status >= 400) {
        message = read_api_result(*reply);
    } else {
        auto answer = parse_success_body(*reply);
        if (!answer)
            return detail_reply(400, "계정 정보 파싱 오류: " + answer.error());
        return {200, std::move(*answer)};
    }

    if (message != auth_expired_marker)
        return detail_reply(400, std::move(message));
    // The saved file loses every credential; memory keeps all but the key until the
    // configuration is next replaced.
    (void)config::clear_credentials();
    state.forget_api_key();
    return detail_reply(401, "인증 키가 만료되었습니다. 다시 로그인해 주세요.");
}

server::RouteReply handle_check_code(server::ServerState& state, const std::optional<std::string>& code)
{
    const std::string base = current_base_url(state);
    const std::string encoded = percent_encode(platform::trim_unicode_ws(code.value_or("")));

    auto reply = send_call("GET", base + "/api/check-code?code=" + encoded);
    if (!reply)
        return detail_reply(400, "서버 연결 오류: " + reply.error());
    if (reply->status >= 400)
        return detail_reply(400, read_api_result(*reply));
    auto answer = parse_success_body(*reply);
    if (!answer)
        return detail_reply(400, "중복 확인 응답 파싱 실패: " + answer.error());
    return {200, std::move(*answer)};
}

} // namespace uploader
