#pragma once
// Clocks and the process id.

#include <chrono>
#include <cstdint>

namespace platform {

using MonoInstant = std::chrono::steady_clock::time_point;

// Milliseconds since the UNIX epoch by the system clock, truncated; 0 for a clock set
// before the epoch.
[[nodiscard]] std::uint64_t unix_epoch_ms();

// Nanoseconds since the UNIX epoch by the system clock; 0 before the epoch.
[[nodiscard]] std::uint64_t unix_epoch_ns();

// The monotonic clock now.
[[nodiscard]] inline MonoInstant monotonic_now() { return std::chrono::steady_clock::now(); }

// The id of the running process.
[[nodiscard]] std::uint32_t process_id();

// True when a process with id `pid` exists (also one of another user, or one that has
// ended but is still held open by someone). Ids that no process can have give false.
[[nodiscard]] bool process_running(std::uint32_t pid);

} // namespace platform
