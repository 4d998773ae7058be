#include "main/single_instance.h"

#include "config/desktop_config.h"
#include "platform/clock.h"
#include "platform/file_claim.h"
#include "platform/fs.h"
#include "platform/http_client.h"
#include "platform/unicode.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <thread>

namespace app {

EpochMs now_epoch_ms() { return EpochMs{platform::unix_epoch_ms()}; }

std::filesystem::path session_claim_path() { return config::config_dir() / "session_claim.lock"; }

std::filesystem::path active_session_path() { return config::config_dir() / "active_session.json"; }

bool is_announcement_fresh(EpochMs created, EpochMs now)
{
    const EpochMs age = now > created ? now - created : 0;
    return age <= SESSION_FRESH_MS;
}

bool is_claim_stale(std::int64_t modified_ns, std::uint64_t now_ns)
{
    const __int128 age = static_cast<__int128>(now_ns) - modified_ns;
    return age > static_cast<__int128>(CLAIM_STALE_SECS) * 1'000'000'000;
}

std::optional<ActiveSession> read_active_session()
{
    const auto text = platform::read_file(active_session_path());
    if (!text)
        return std::nullopt;
    return parse_active_session(*text);
}

bool notify_running_instance(const ActiveSession& session, const std::vector<std::filesystem::path>& paths)
{
    nlohmann::json texts = nlohmann::json::array();
    for (const auto& path : paths)
        texts.push_back(platform::path_to_utf8(path));
    // nlohmann's objects keep their keys sorted, which puts "paths" first.
    const nlohmann::json body = {{"paths", std::move(texts)}, {"replace", false}};

    platform::HttpRequest request;
    request.method = "POST";
    request.url = "http://127.0.0.1:" + std::to_string(session.port) + "/api/local/add-paths";
    request.headers = {{"X-Local-Token", session.token}, {"Content-Type", "application/json"}};
    request.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    // Only the announced port itself can take the paths: a stale or foreign port that
    // redirects elsewhere has not taken them, whatever answers at the other end.
    request.redirects = platform::Redirects::none;

    const platform::HttpClient client(platform::HttpTimeouts{
        std::chrono::milliseconds(HANDOFF_CONNECT_TIMEOUT_MS),
        std::chrono::milliseconds(HANDOFF_IO_TIMEOUT_MS),
        std::chrono::milliseconds(HANDOFF_IO_TIMEOUT_MS),
    });
    const auto reply = client.send(std::move(request));
    return reply && reply->status == 200;
}

bool handoff_to_fresh_session(const std::vector<std::filesystem::path>& paths)
{
    const auto session = read_active_session();
    if (!session || !is_announcement_fresh(session->created_epoch_ms, now_epoch_ms()))
        return false;
    return notify_running_instance(*session, paths);
}

bool claim_session()
{
    (void)platform::create_dirs(config::config_dir());
    const auto claim = session_claim_path();
    if (const auto modified = platform::file_modified_ns(claim);
        modified && is_claim_stale(*modified, platform::unix_epoch_ns()))
        (void)platform::remove_file(claim);
    return platform::create_new_file(claim, std::to_string(platform::process_id()) + "\n").has_value();
}

bool counts_while_waiting(EpochMs created, EpochMs now, EpochMs claim_taken)
{
    return is_announcement_fresh(created, now) || created >= claim_taken;
}

bool wait_for_running_instance(const std::vector<std::filesystem::path>& paths)
{
    // Read now: the claimant removes the claim file right after it has announced itself.
    const auto modified = platform::file_modified_ns(session_claim_path());
    const EpochMs claim_taken =
        modified ? EpochMs{static_cast<std::uint64_t>(std::max<std::int64_t>(*modified, 0)) / 1'000'000} : now_epoch_ms();
    for (int round = 0; round < CLAIM_RETRY_ROUNDS; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(CLAIM_RETRY_DELAY_MS));
        const auto session = read_active_session();
        if (session && counts_while_waiting(session->created_epoch_ms, now_epoch_ms(), claim_taken) &&
            notify_running_instance(*session, paths))
            return true;
    }
    return false;
}

void publish_active_session(std::uint16_t port, const std::string& token)
{
    const ActiveSession session{port, token, now_epoch_ms()};
    const auto dir = config::config_dir();
    (void)platform::create_dirs(dir);
    // The process id keeps two publishers from writing the same temporary file.
    const auto temp = dir / ("active_session." + std::to_string(platform::process_id()) + ".tmp");
    // A temporary file that failed to become the announcement would stay for good.
    if (!platform::write_file(temp, serialize_active_session(session)) ||
        !platform::rename_replace(temp, active_session_path()))
        (void)platform::remove_file(temp);
}

void release_claim() { (void)platform::remove_file(session_claim_path()); }

void retire_active_session(const std::string& token)
{
    const auto session = read_active_session();
    if (session && session->token == token)
        (void)platform::remove_file(active_session_path());
}

} // namespace app
