#include "main/run_main.h"

#include "main/arg_scan.h"
#include "main/leftovers.h"
#include "main/local_token.h"
#include "main/routes.h"
#include "main/single_instance.h"
#include "platform/stdio.h"
#include "platform/thread.h"
#include "server/server_state.h"
#include "shell/app_window.h"
#include "shell/context_menu.h"

#include <future>
#include <memory>
#include <utility>

namespace app {

namespace {

// Prints the message of a one-shot registration or removal as one line: standard output
// on success, standard error on failure.
int finish_one_shot(const core::Result<std::string>& outcome)
{
    if (outcome) {
        platform::write_stdout(*outcome + "\n");
        return 0;
    }
    platform::write_stderr(outcome.error() + "\n");
    return 1;
}

int run_one_shot(OneShot which)
{
    if (which == OneShot::install)
        return finish_one_shot(shell::install_context_menu());
    return finish_one_shot(shell::uninstall_context_menu());
}

void ensure_context_menu()
{
    if (!shell::is_context_menu_installed())
        (void)shell::install_context_menu();
}

// A job still zipping or uploading dies with the process: its temporary archive must not
// outlive it.
void remove_running_job_files(server::ServerState& state) { state.remove_job_files_at_exit(); }

std::string page_url(std::uint16_t port, const std::string& token)
{
    return "http://127.0.0.1:" + std::to_string(port) + "/?token=" + token;
}

// A host process reads the URL from our standard output and shows the page itself; the
// server then runs until the page asks it to quit.
int run_stdio_port(std::vector<std::filesystem::path> paths, ListenerBinder bind_listener)
{
    remove_leftover_temp_files();
    ensure_context_menu();
    auto bound = bind_listener();
    if (!bound) {
        platform::write_stderr("VANO_ERROR " + bound.error() + "\n");
        return 1;
    }
    std::string token = generate_local_token();
    const std::string url = page_url(bound->port, token);
    auto state = std::make_shared<server::ServerState>(std::move(token), std::move(paths));
    // Unbuffered writes: the line is out before the first connection is accepted.
    (void)platform::write_stdout("VANO_READY " + url + "\n");
    server::accept_loop(std::move(bound->listener), state, routes(), false);
    remove_running_job_files(*state);
    return 0;
}

// The menu registration and the sweep of old archives run on a thread of their own: they
// may take seconds, and newcomers must find the instance announced meanwhile. The future
// is ready once both are done.
std::future<void> start_housekeeping()
{
    std::promise<void> done;
    auto finished = done.get_future();
    const auto work = [] {
        ensure_context_menu();
        remove_leftover_archives();
    };
    if (!platform::start_detached_thread([work, done = std::move(done)]() mutable {
            work();
            done.set_value();
        }))
        work(); // late, but not skipped; the broken promise still readies the future
    return finished;
}

int run_normal(std::vector<std::filesystem::path> paths, ListenerBinder bind_listener)
{
    if (!paths.empty() && handoff_to_fresh_session(paths))
        return 0;
    const bool claimed = claim_session();
    if (!claimed && !paths.empty() && wait_for_running_instance(paths))
        return 0;
    // An instance may have announced itself and released its claim between our first look
    // and our claim: holding the claim does not mean that none runs.
    if (claimed && !paths.empty() && handoff_to_fresh_session(paths)) {
        release_claim();
        return 0;
    }
    // Becoming an instance: a newcomer that hands its paths over exits before this.
    auto bound = bind_listener();
    if (!bound) {
        release_claim();
        remove_leftover_temp_files();
        return 1;
    }
    const std::string token = generate_local_token();
    publish_active_session(bound->port, token);
    release_claim();
    // A few files, swept while no save of ours can be under way; newcomers' connections
    // wait in the listener's queue meanwhile.
    remove_leftover_config_files();
    auto housekeeping = start_housekeeping();
    const bool has_paths = !paths.empty();
    auto state = std::make_shared<server::ServerState>(token, std::move(paths));
    // A quitting instance withdraws its announcement before the quit is answered, so that
    // a newcomer started then becomes the instance instead of handing its paths to us.
    state->set_quit_hook([token] { retire_active_session(token); });
    const std::string url = page_url(bound->port, token);
    // No thread, no window; the instance still serves hand-offs until it goes idle.
    (void)platform::start_detached_thread([url, has_paths] { shell::open_app_window(url, has_paths); });
    server::accept_loop(std::move(bound->listener), state, routes(), true);
    remove_running_job_files(*state);
    retire_active_session(token);
    // A registration cut off by the exit would leave some of the entries behind.
    housekeeping.wait();
    return 0;
}

} // namespace

int run_main(const std::vector<std::string>& args, ListenerBinder bind_listener)
{
    ScannedArgs scanned = scan_arguments(args);
    if (scanned.one_shot != OneShot::none)
        return run_one_shot(scanned.one_shot);
    if (scanned.stdio_port)
        return run_stdio_port(std::move(scanned.paths), bind_listener);
    return run_normal(std::move(scanned.paths), bind_listener);
}

int run_main(const std::vector<std::string>& args) { return run_main(args, server::bind_local_listener); }

} // namespace app
