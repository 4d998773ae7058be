#include "server/selection_routes.h"

#include "config/desktop_config.h"
#include "config/selection.h"
#include "main/arg_scan.h"
#include "platform/fs.h"
#include "platform/thread.h"
#include "platform/unicode.h"
#include "server/json_body.h"
#include "server/json_forms.h"
#include "shell/pickers.h"
#include "uploader/upload_job.h"

#include <algorithm>

namespace server {

namespace {

bool same_path(const std::filesystem::path& a, const std::filesystem::path& b)
{
    return app::same_path_components(platform::path_to_utf8(a), platform::path_to_utf8(b));
}

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

config::TargetSummary target_copy(ServerState& state)
{
    auto lock = state.target.lock();
    if (lock.poisoned())
        return config::analyze_selection({});
    return lock.value();
}

} // namespace

RouteReply handle_pick(const SharedState& state, std::string_view body)
{
    const auto kind = body_flag(body_json(body), "folder") ? shell::PickKind::folder : shell::PickKind::files;
    auto picked = shell::pick_paths(kind);
    if (!picked)
        return {400, Json{{"detail", picked.error()}}};
    if (!*picked)
        return {200, Json{{"success", false}, {"cancelled", true}}};
    auto& list = **picked;
    auto target = config::analyze_selection(list);
    {
        auto paths = state->paths.lock();
        if (!paths.poisoned())
            paths.value() = list;
    }
    {
        auto t = state->target.lock();
        if (!t.poisoned())
            t.value() = target;
    }
    {
        auto job = state->job.lock();
        if (!job.poisoned())
            job.value() = JobState::make_new();
    }
    return {200, Json{{"success", true}, {"target", to_value(target)}}};
}

RouteReply handle_add_paths(const SharedState& state, std::string_view body)
{
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

    std::vector<std::filesystem::path> merged;
    const auto append_new = [&merged](const std::filesystem::path& p) {
        if (std::none_of(merged.begin(), merged.end(), [&](const auto& m) { return same_path(m, p); }))
            merged.push_back(p);
    };
    {
        auto paths = state->paths.lock();
        if (!paths.poisoned()) {
            if (!replace)
                for (const auto& p : paths.value())
                    append_new(p);
            for (const auto& p : incoming)
                append_new(p);
            paths.value() = merged;
        }
    }
    auto target = config::analyze_selection(merged);
    {
        auto t = state->target.lock();
        if (!t.poisoned())
            t.value() = std::move(target);
    }
    {
        auto job = state->job.lock();
        if (!job.poisoned() && (job->phase == "done" || job->phase == "error"))
            job.value() = JobState::make_new();
    }
    return {200, Json{{"success", true}}};
}

RouteReply handle_start_upload(const SharedState& state, std::string_view body)
{
    auto cfg = config::config_snapshot(state->config);
    if (cfg.api_key.empty())
        return {401, Json{{"detail", "먼저 계정으로 로그인해 주세요."}}};

    auto target = target_copy(*state);
    if (target.kind == config::TargetKind::Empty || !target.valid)
        return {400, Json{{"detail", target.error_message.value_or("공유할 파일이나 폴더를 선택해 주세요.")}}};

    std::vector<std::filesystem::path> paths;
    {
        auto lock = state->paths.lock();
        if (!lock.poisoned())
            paths = lock.value();
    }

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

    {
        auto job = state->job.lock();
        if (!job.poisoned()) {
            if (job->phase == "zipping" || job->phase == "uploading")
                return {400, Json{{"detail", "이미 업로드가 진행 중입니다."}}};
            job->phase = target.needs_zip ? "zipping" : "uploading";
            job->percent = 0.0;
            job->error.reset();
            job->result.reset();
            job->qr_svg.reset();
        }
    }

    const auto total = target.raw_bytes == 0 ? 1 : target.raw_bytes;
    state->zip_done_bytes->store(0);
    state->zip_total_bytes->store(total);
    state->upload_sent_bytes->store(0);
    state->upload_total_bytes->store(total);

    const bool started = platform::start_detached_thread(
        [state, cfg = std::move(cfg), target = std::move(target), paths = std::move(paths),
         custom_code = std::move(custom_code), expiry = std::move(expiry),
         qr_details = std::move(qr_details)]() mutable {
            uploader::run_upload_job(state, std::move(cfg), std::move(target), std::move(paths),
                                     std::move(custom_code), std::move(expiry), std::move(qr_details));
        });
    if (!started) {
        // Without a thread nothing would ever finish the job: do not leave it running.
        auto job = state->job.lock();
        if (!job.poisoned()) {
            job->phase = "error";
            job->error = "업로드 작업을 시작할 수 없습니다.";
        }
        return {500, Json{{"detail", "업로드 작업을 시작할 수 없습니다."}}};
    }
    return {200, Json{{"success", true}}};
}

} // namespace server
