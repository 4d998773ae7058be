#include "server/state_routes.h"

#include "config/desktop_config.h"
#include "server/json_body.h"
#include "server/json_forms.h"
#include "server/progress.h"
#include "shell/clipboard.h"
#include "shell/context_menu.h"

namespace server {

RouteReply handle_state(ServerState& state)
{
    const config::DesktopConfig cfg = state.config_snapshot();
    const SelectionView selection = state.selection_view();
    const JobState job = state.job_view();

    Json reply{
        {"success", true},
        {"platform", "Windows"},
        {"context_menu_installed", shell::is_context_menu_installed()},
        {"authenticated", !cfg.api_key.empty()},
        {"account",
         Json{
             {"username", cfg.username},
             {"org_name", cfg.org_name},
             {"admin_name", cfg.admin_name},
             {"role", cfg.role},
             {"server_url", cfg.server_url},
         }},
        {"target", to_value(selection.target)},
        {"selection_version", selection.version},
        {"selection_ready", selection.ready},
        {"job", to_value(job)},
    };
    return {200, std::move(reply)};
}

RouteReply handle_selection_version(ServerState& state)
{
    const auto [version, ready] = state.selection_version();
    return {200, Json{{"success", true}, {"selection_version", version}, {"selection_ready", ready}}};
}

RouteReply handle_heartbeat() { return {200, Json{{"ok", true}}}; }

RouteReply handle_quit(ServerState& state)
{
    state.request_quit();
    return {200, Json{{"success", true}}};
}

RouteReply handle_logout(ServerState& state)
{
    (void)config::clear_credentials(); // a failed save still logs out this instance
    state.forget_account();
    return {200, Json{{"success", true}}};
}

RouteReply handle_install_menu()
{
    auto installed = shell::install_context_menu();
    if (!installed)
        return {400, Json{{"detail", installed.error()}}};
    return {200, Json{{"success", true}, {"message", *installed}}};
}

RouteReply handle_uninstall_menu()
{
    return {200, Json{{"success", true}, {"message", shell::uninstall_context_menu()}}};
}

RouteReply handle_copy(std::string_view body)
{
    const std::string text = body_text(body_json(body), "text");
    auto copied = shell::copy_to_clipboard(text);
    if (!copied)
        return {400, Json{{"detail", copied.error()}}};
    return {200, Json{{"success", true}}};
}

} // namespace server
