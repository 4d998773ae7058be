#pragma once
// JSON forms of the records that the local API shows: the selection's target, the job
// and its upload result. Objects list their keys sorted.

#include "config/selection.h"
#include "server/route_reply.h"
#include "server/server_state.h"

namespace server {

// All fourteen keys; `error_message` null when there is none; `paths` always an array.
[[nodiscard]] Json to_value(const config::TargetSummary& target);

// The six keys of an upload result.
[[nodiscard]] Json to_value(const UploadResult& result);

// All six keys; `error`, `result` and `qr_svg` null when absent. `percent` is written
// with a decimal point (0.0, 100.0).
[[nodiscard]] Json to_value(const JobState& job);

} // namespace server
