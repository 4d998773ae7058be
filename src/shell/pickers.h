#pragma once
// The file and folder dialogs, run in a PowerShell child process.

#include "core/result.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace shell {

enum class PickKind { files, folder };

// The chosen paths (non-empty, in the dialog's order, no existence test), nothing for a
// cancel, or the Korean failure message when the dialog cannot be run.
[[nodiscard]] core::Result<std::optional<std::vector<std::filesystem::path>>> pick_paths(PickKind kind);

// The dialog's standard output as paths: one per line, CR removed, lines trimmed of
// Unicode white space, blank lines and lines holding NUL (they name no file) dropped.
[[nodiscard]] std::vector<std::filesystem::path> parse_path_lines(std::string_view output);

} // namespace shell
