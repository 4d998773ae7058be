#pragma once
// The live progress figures of a zipping or uploading job, computed from the shared
// counters for the state reply only (the shared job record is never written here).

#include "server/server_state.h"

#include <cstdint>
#include <string>

namespace server {

// `value` in fixed notation with one digit after the point, nearest with ties to even
// on the exact binary value ("1.5", "0.0"), independent of the C runtime's printf.
[[nodiscard]] std::string one_decimal(double value);

// For phase "zipping" or "uploading": sets `percent` (0.0..99.5, one decimal) and
// `detail_text` from `done` of `total` bytes; `upload_elapsed_ms` is the time since
// uploading began (for the speed figure). Any other phase is left as stored.
void apply_progress_figures(JobState& job, std::uint64_t done, std::uint64_t total, std::uint64_t upload_elapsed_ms);

// apply_progress_figures with the job's counters, each read by one atomic load; `start`
// is the state's start instant.
void apply_live_progress(JobState& job, const JobCounters& counters, MonoInstant start);

} // namespace server
