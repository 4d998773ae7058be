#include "server/selection_routes.h"

#include "config/desktop_config.h"
#include "config/selection.h"
#include "platform/fs.h"
#include "platform/thread.h"
#include "platform/unicode.h"
#include "server/json_body.h"
#include "server/json_forms.h"
#include "shell/pickers.h"
#include "uploader/upload_job.h"

#include <algorithm>
#include <utility>

namespace server {

namespace {

bool path_exists(const std::filesystem::path& p)
{
    return platform::file_meta(p, platform::FollowLinks::yes).has_value();
}

std::optional<std::string> optional_text(const Json& body, const char* key)
{
    const auto it = body.find(key);
    if (it == body.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

// A newcomer refused this becomes the instance itself; paths taken by an instance that
// is ending would be lost.
RouteReply quitting_reply() { return {503, Json{{"detail", std::string(QUITTING_MESSAGE)}}}; }

} // namespace

RouteReply handle_pick(const SharedState& state, std::string_view body)
{
    const auto kind = body_flag(body_json(body), "folder") ? shell::PickKind::folder : shell::PickKind::files;
    auto picked = shell::pick_paths(kind);
    if (!picked)
        return {400, Json{{"detail", picked.error()}}};
    if (!*picked)
        return {200, Json{{"success", false}, {"cancelled", true}}};
    const auto target = state->replace_selection(std::move(**picked));
    return {200, Json{{"success", true}, {"target", to_value(target)}}};
}

RouteReply handle_add_paths(const SharedState& state, std::string_view body)
{
    if (state->quitting())
        return quitting_reply();
    const auto json = body_json(body);
    const bool replace = body_flag(json, "replace");
    std::vector<std::filesystem::path> incoming;
    if (const auto it = json.find("paths"); it != json.end() && it->is_array()) {
        for (const auto& element : *it) {
            if (!element.is_string())
                continue;
            auto p = platform::path_from_utf8(element.get<std::string>());
            // A text holding U+0000 names no file, whatever the OS finds before the NUL.
            if (platform::check_no_nul(p) && path_exists(p))
                incoming.push_back(std::move(p));
        }
    }
    if (incoming.empty())
        return {200, Json{{"success", true}}};

    state->merge_into_selection(incoming, replace ? MergeMode::replace : MergeMode::append);
    if (state->quitting()) // the quit came while the merge was made
        return quitting_reply();
    return {200, Json{{"success", true}}};
}

RouteReply handle_start_upload(const SharedState& state, std::string_view body)
{
    auto cfg = config::config_snapshot(state->config);
    if (cfg.api_key.empty())
        return {401, Json{{"detail", "먼저 계정으로 로그인해 주세요."}}};

    // One copy of the pair: the job sends exactly the paths this target describes.
    auto selected = state->selection_snapshot();
    auto& target = selected.target;
    if (target.kind == config::TargetKind::Empty || !target.valid)
        return {400, Json{{"detail", target.error_message.value_or("공유할 파일이나 폴더를 선택해 주세요.")}}};

    const auto json = body_json(body);
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

    const auto job_id = state->begin_job(target);
    if (!job_id)
        return {400, Json{{"detail", "이미 업로드가 진행 중입니다."}}};

    const bool started = platform::start_detached_thread(
        [state, cfg = std::move(cfg), target = std::move(target), paths = std::move(selected.paths),
         custom_code = std::move(custom_code), expiry = std::move(expiry),
         qr_details = std::move(qr_details), id = *job_id]() mutable {
            uploader::run_upload_job(state, std::move(cfg), std::move(target), std::move(paths),
                                     std::move(custom_code), std::move(expiry), std::move(qr_details), id);
            state->release_job(id);
        });
    if (!started) {
        // Without a thread nothing would ever finish the job: do not leave it running.
        state->finish_job(*job_id, [](JobState& job) {
            job.phase = "error";
            job.error = "업로드 작업을 시작할 수 없습니다.";
        });
        return {500, Json{{"detail", "업로드 작업을 시작할 수 없습니다."}}};
    }
    return {200, Json{{"success", true}}};
}

} // namespace server
