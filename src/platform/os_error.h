#pragma once
// The operating system's error texts as the messages show them.

#include <string>
#include <system_error>

namespace platform {

// "<system message for code> (os error <code>)".
[[nodiscard]] std::string os_error_text(int code);

// os_error_text of errno (POSIX) or GetLastError() (Windows), read now.
[[nodiscard]] std::string last_os_error_text();

// os_error_text of an error code that the standard library reported.
[[nodiscard]] std::string os_error_text(const std::error_code& ec);

} // namespace platform
