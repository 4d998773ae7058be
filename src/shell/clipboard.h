#pragma once

#include "core/result.h"

#include <string_view>

namespace shell {

// Puts `text` on the clipboard through PowerShell; blocks until it has ended.
// Failure is the Korean message.
[[nodiscard]] core::Result<void> copy_to_clipboard(std::string_view text);

} // namespace shell
