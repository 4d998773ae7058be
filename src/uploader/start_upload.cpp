#include "uploader/start_upload.h"

#include "config/selection.h"
#include "platform/thread.h"
#include "platform/unicode.h"
#include "server/json_body.h"
#include "uploader/upload_job.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace uploader {

namespace {

using server::Json;

std::optional<std::string> optional_text(const Json& body, const char* key)
{
    const auto it = body.find(key);
    if (it == body.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

// The version the page showed when start was pressed; nothing when the body names none.
// A number that is no whole version (negative, fractional) matches no stored version.
std::optional<std::uint64_t> shown_version(const Json& body)
{
    const auto it = body.find("selection_version");
    if (it == body.end() || !it->is_number())
        return std::nullopt;
    if (it->is_number_unsigned())
        return it->get<std::uint64_t>();
    constexpr auto none = std::numeric_limits<std::uint64_t>::max(); // no version gets this far
    if (it->is_number_float()) {
        const double v = it->get<double>();
        if (v >= 0 && v < 0x1p64 && std::floor(v) == v)
            return static_cast<std::uint64_t>(v);
    }
    return none;
}

} // namespace

server::RouteReply handle_start_upload(const server::SharedState& state, std::string_view body)
{
    auto cfg = state->config_snapshot();
    if (cfg.api_key.empty())
        return {401, Json{{"detail", "먼저 계정으로 로그인해 주세요."}}};

    const auto json = server::body_json(body);
    // One hold: the job sends exactly the version checked here, paths and target alike.
    auto [check, selected] = state->selection_for_start(shown_version(json));
    if (check == server::StartCheck::not_ready)
        return {400, Json{{"detail", "선택한 항목을 확인하는 중입니다. 잠시 후 다시 시작해 주세요."}}};
    if (check == server::StartCheck::changed)
        return {400, Json{{"detail", "선택한 항목이 바뀌었습니다. 바뀐 선택을 확인한 뒤 다시 시작해 주세요."},
                          {"selection_changed", true}}};
    auto& target = selected.target;
    if (target.kind == config::TargetKind::Empty || !target.valid)
        return {400, Json{{"detail", target.error_message.value_or("공유할 파일이나 폴더를 선택해 주세요.")}}};

    std::optional<std::string> custom_code;
    if (auto code = optional_text(json, "custom_code")) {
        auto trimmed = platform::trim_unicode_ws(*code);
        std::replace(trimmed.begin(), trimmed.end(), ' ', '_');
        if (!trimmed.empty())
            custom_code = std::move(trimmed);
    }
    std::string expiry = target.force_3day_expiry
                             ? std::string("3")
                             : platform::trim_unicode_ws(optional_text(json, "expiry_option").value_or("30"));
    std::optional<std::string> qr_details;
    if (auto details = optional_text(json, "qr_details")) {
        auto trimmed = platform::trim_unicode_ws(*details);
        if (!trimmed.empty())
            qr_details = std::move(trimmed);
    }

    auto job = server::ServerState::begin_job(state, target);
    if (!job)
        return {400, Json{{"detail", "이미 업로드가 진행 중입니다."}}};

    // Without a thread the handle goes with the body and ends the job as "error" itself.
    const bool started = platform::start_detached_thread(
        [job = std::move(*job), cfg = std::move(cfg), target = std::move(target), items = std::move(selected.items),
         custom_code = std::move(custom_code), expiry = std::move(expiry),
         qr_details = std::move(qr_details)]() mutable {
            run_upload_job(std::move(job), std::move(cfg), std::move(target), std::move(items), std::move(custom_code),
                           std::move(expiry), std::move(qr_details));
        });
    if (!started)
        return {500, Json{{"detail", std::string(server::JOB_NOT_STARTED_MESSAGE)}}};
    return {200, Json{{"success", true}}};
}

} // namespace uploader
