#pragma once
// Environment variables and the temporary folder.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The variable's value as UTF-8, or nothing when it is absent or its value is not valid
// Unicode. A present, empty value is an empty text.
[[nodiscard]] std::optional<std::string> env_var(std::string_view name);

// Sets the variable (an empty value included), or removes it when `value` is nothing.
// For tests that must point APPDATA or HOME at a folder of their own.
void set_env_var(std::string_view name, const std::optional<std::string>& value);

// The system's temporary folder.
[[nodiscard]] std::filesystem::path temp_dir();

} // namespace platform
