#pragma once
// Merging a selection with the paths handed over to it.

#include <filesystem>
#include <vector>

namespace config {

enum class MergeMode { append, replace };

// `current` (unless `mode` is replace) followed by `incoming`, each path once, in order of
// first appearance. Paths are equal when their components are (see
// same_path_components). Near-linear: one hash look-up per path.
[[nodiscard]] std::vector<std::filesystem::path> merge_paths(const std::vector<std::filesystem::path>& current,
                                                             const std::vector<std::filesystem::path>& incoming,
                                                             MergeMode mode);

} // namespace config
