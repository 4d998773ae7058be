#pragma once

#include "core/result.h"

#include <string_view>

namespace shell {

// Puts `text` on the clipboard through PowerShell; blocks until it has ended.
// Fails with a Korean message when PowerShell cannot be started, its input cannot be
// written, or it ends with an exit code other than 0 (or one that cannot be read).
[[nodiscard]] core::Result<void> copy_to_clipboard(std::string_view text);

} // namespace shell
