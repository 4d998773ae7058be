#include "uploader/remote_client.h"

#include "core/json_text.h"
#include "core/utf8.h"
#include "uploader/error_text.h"

#include <chrono>
#include <mutex>
#include <string>

namespace uploader {

namespace {

using namespace std::chrono_literals;

std::mutex g_timeouts_mutex;
std::optional<platform::HttpTimeouts> g_test_timeouts;

std::string plain_server_error(std::uint16_t status)
{
    return "서버 오류 (HTTP " + std::to_string(status) + ")";
}

// A body cut at its cap may end inside a character; that part is not the service's.
std::string_view without_cut_character(std::string_view body)
{
    for (std::size_t back = 1; back <= std::min<std::size_t>(3, body.size()); ++back) {
        const auto lead = static_cast<unsigned char>(body[body.size() - back]);
        if ((lead & 0xC0) == 0x80)
            continue;
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        return length > back ? body.substr(0, body.size() - back) : body;
    }
    return body;
}

} // namespace

platform::HttpClient make_agent(bool for_upload)
{
    {
        std::lock_guard lock(g_timeouts_mutex);
        if (g_test_timeouts)
            return platform::HttpClient(*g_test_timeouts);
    }
    platform::HttpTimeouts timeouts;
    if (for_upload)
        timeouts.read = timeouts.write = 1200s;
    return platform::HttpClient(timeouts);
}

void set_agent_timeouts_for_test(std::optional<platform::HttpTimeouts> timeouts)
{
    std::lock_guard lock(g_timeouts_mutex);
    g_test_timeouts = timeouts;
}

std::string base_url(std::string_view server_url)
{
    while (server_url.ends_with('/'))
        server_url.remove_suffix(1);
    return std::string(server_url);
}

core::Result<server::Json> parse_reply_json(std::string_view text)
{
    // Replies have always been read past a leading byte-order mark.
    return core::parse_json_text(text, core::ByteOrderMark::skipped);
}

core::Result<server::Json> parse_success_body(const platform::HttpResponse& reply)
{
    if (reply.body_truncated)
        return core::fail("reply body is larger than " + std::to_string(max_reply_body_bytes) + " bytes");
    return parse_reply_json(reply.body);
}

std::optional<std::string> reply_text(const server::Json& reply, std::string_view key)
{
    if (!reply.is_object())
        return std::nullopt;
    const auto it = reply.find(key);
    if (it == reply.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

std::string read_api_result(const platform::HttpResponse& reply)
{
    if (reply.body_error)
        return plain_server_error(reply.status);
    const std::string text = core::lossy_utf8(reply.body_truncated ? without_cut_character(reply.body) : reply.body);
    // A body cut at the cap is no whole JSON value.
    if (const auto value = reply.body_truncated ? core::Result<server::Json>(core::fail("")) : parse_reply_json(text);
        value && value->is_object()) {
        const auto detail = value->find("detail");
        if (detail != value->end() && detail->is_string())
            return shortened(detail->get<std::string>());
        if (detail != value->end() && detail->is_object()) {
            const auto message = detail->find("message");
            if (message != detail->end() && message->is_string())
                return shortened(message->get<std::string>());
        }
        const auto message = value->find("message");
        if (message != value->end() && message->is_string())
            return shortened(message->get<std::string>());
    }
    return "서버 요청 실패 (HTTP " + std::to_string(reply.status) + "): " + error_body_summary(text);
}

} // namespace uploader
