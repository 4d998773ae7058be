#pragma once
// The single-instance protocol: processes started together end in one running instance
// holding all their paths. A claim file marks a process that is becoming the instance;
// the session file announces the instance's port and token; a newcomer hands its paths
// over with POST /api/local/add-paths.

#include "main/active_session.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace app {

// An announcement at most this old is used for the first hand-off.
inline constexpr EpochMs SESSION_FRESH_MS = 3500;
// A claim file last modified longer ago than this is removed.
inline constexpr std::int64_t CLAIM_STALE_SECS = 5;
// Hand-off attempts while another process holds the claim, and the pause before each.
inline constexpr int CLAIM_RETRY_ROUNDS = 15;
inline constexpr int CLAIM_RETRY_DELAY_MS = 55;
// Time-outs of the hand-off request: connecting, then each read and each write.
inline constexpr int HANDOFF_CONNECT_TIMEOUT_MS = 250;
inline constexpr int HANDOFF_IO_TIMEOUT_MS = 500;

// Milliseconds since the UNIX epoch by the system clock, truncated; 0 before the epoch.
[[nodiscard]] EpochMs now_epoch_ms();

// config_dir() joined with "session_claim.lock" / "active_session.json" (no folder is
// created).
[[nodiscard]] std::filesystem::path session_claim_path();
[[nodiscard]] std::filesystem::path active_session_path();

// True when the announcement made at `created` is at most SESSION_FRESH_MS old at `now`;
// one made later than `now` is always fresh.
[[nodiscard]] bool is_announcement_fresh(EpochMs created, EpochMs now);

// True when a claim last modified at `modified_ns` is more than CLAIM_STALE_SECS old at
// `now_ns` (both nanoseconds since the UNIX epoch); a time in the future is never stale.
[[nodiscard]] bool is_claim_stale(std::int64_t modified_ns, std::uint64_t now_ns);

// The announcement in active_session.json, or nothing for a missing, unreadable or
// malformed file.
[[nodiscard]] std::optional<ActiveSession> read_active_session();

// Posts the paths to the announced instance; true only when it answered 200 itself. Every
// failure (refused, slow, any other status, a redirect, which is not followed) gives false.
// Requires a non-empty list.
[[nodiscard]] bool notify_running_instance(const ActiveSession& session,
                                           const std::vector<std::filesystem::path>& paths);

// Hands the paths to a freshly announced instance; true when it took them.
[[nodiscard]] bool handoff_to_fresh_session(const std::vector<std::filesystem::path>& paths);

// Creates session_claim.lock (after removing a stale one); true when this process
// created it. The folder is made when missing.
[[nodiscard]] bool claim_session();

// True when an announcement made at `created` may take a waiting newcomer's paths: it is
// fresh at `now`, or it was made no earlier than `claim_taken`, the moment the claim that
// the newcomer waits on was taken. An older one belongs to an instance that may be gone,
// its port since taken by another program.
[[nodiscard]] bool counts_while_waiting(EpochMs created, EpochMs now, EpochMs claim_taken);

// Up to CLAIM_RETRY_ROUNDS times, CLAIM_RETRY_DELAY_MS apart, hands the paths to the
// announced instance when its announcement counts_while_waiting (the claim taken when
// the claim file was last modified, or now when it cannot be read); true once one took
// them.
[[nodiscard]] bool wait_for_running_instance(const std::vector<std::filesystem::path>& paths);

// Announces this instance: writes "active_session.<pid>.tmp" beside the session file and
// renames it over active_session.json. Failures are ignored; the temporary file is then
// removed.
void publish_active_session(std::uint16_t port, const std::string& token);

// Removes the claim file, whoever created it; failures are ignored.
void release_claim();

// Removes active_session.json if it still announces `token`; failures are ignored.
void retire_active_session(const std::string& token);

} // namespace app
