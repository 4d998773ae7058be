#pragma once
// The per-user configuration folder and the saved configuration desktop_config.json.

#include "core/result.h"

#include <filesystem>
#include <string>

namespace config {

// The service's base URL when none is saved.
inline constexpr const char* default_server_url = "https://share.vano.example";

struct DesktopConfig {
    std::string server_url;
    std::string api_key;
    std::string username;
    std::string org_name;
    std::string admin_name;
    std::string role;

    // The default base URL and five empty texts.
    [[nodiscard]] static DesktopConfig defaults();

    bool operator==(const DesktopConfig&) const = default;
};

// The configuration folder (never created here).
[[nodiscard]] std::filesystem::path config_dir();

// config_dir() / "desktop_config.json".
[[nodiscard]] std::filesystem::path config_file_path();

// The saved configuration, or the defaults for a missing or malformed file. Never fails.
[[nodiscard]] DesktopConfig load_config();

// Writes `cfg` (two-space pretty JSON, no newline at the end) through a temporary file
// renamed over the old one; failure is the Korean message.
[[nodiscard]] core::Result<void> save_config(const DesktopConfig& cfg);

// Empties the account fields of the saved configuration (read from disk) and saves it.
[[nodiscard]] core::Result<void> clear_credentials();

} // namespace config
