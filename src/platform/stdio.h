#pragma once
// Exact bytes to the process's standard streams (on Windows through WriteFile, so that
// no text-mode translation adds "\r").

#include <string_view>

namespace platform {

// Writes all of `bytes`; false when the stream is missing or a write fails.
bool write_stdout(std::string_view bytes);
bool write_stderr(std::string_view bytes);

} // namespace platform
