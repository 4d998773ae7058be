#pragma once
// Merging a selection with the paths handed over to it.

#include <filesystem>
#include <string>
#include <vector>

namespace server {

// A text equal for two paths exactly when merge_paths takes them as the same path.
[[nodiscard]] std::string path_key(const std::filesystem::path& path);

enum class MergeMode { append, replace };

// `current` (unless `mode` is replace) followed by `incoming`, each path once, in order of
// first appearance. Paths are equal when their components are (see
// app::same_path_components). Near-linear: one hash look-up per path.
[[nodiscard]] std::vector<std::filesystem::path> merge_paths(const std::vector<std::filesystem::path>& current,
                                                             const std::vector<std::filesystem::path>& incoming,
                                                             MergeMode mode);

} // namespace server
