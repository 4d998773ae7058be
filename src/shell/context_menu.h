#pragma once
// Explorer context-menu and SendTo registration for the current user.

#include "core/result.h"

#include <string>

namespace shell {

// Installs the copy of the program, its icon, the three shell keys and the SendTo
// shortcut. Success and failure both carry the Korean message.
[[nodiscard]] core::Result<std::string> install_context_menu();

// Removes the shell keys and the shortcut; always gives its success message.
[[nodiscard]] std::string uninstall_context_menu();

// True when the Explorer entry for files is registered.
[[nodiscard]] bool is_context_menu_installed();

} // namespace shell
