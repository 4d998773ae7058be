#include "server/selection_routes.h"

#include "platform/fs.h"
#include "platform/unicode.h"
#include "server/json_body.h"
#include "server/json_forms.h"
#include "shell/pickers.h"

#include <utility>

namespace server {

namespace {

bool path_exists(const std::filesystem::path& p)
{
    return platform::file_meta(p, platform::FollowLinks::yes).has_value();
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

} // namespace server
