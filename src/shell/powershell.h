#pragma once
// The hidden PowerShell invocation shared by the clipboard, the dialogs and the SendTo
// shortcut.

#include <string>
#include <string_view>
#include <vector>

namespace shell {

inline constexpr std::string_view powershell_program = "powershell";

enum class Apartment { default_model, single_threaded };

// "-NoProfile" ["-Sta"] "-WindowStyle" "Hidden" "-Command" script.
[[nodiscard]] std::vector<std::string> powershell_args(std::string_view script, Apartment apartment);

} // namespace shell
