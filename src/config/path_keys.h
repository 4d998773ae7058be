#pragma once
// When two path texts name the same path: the identity of a selected path.

#include <filesystem>
#include <string>
#include <string_view>

namespace config {

// True when the two path texts name the same components: '/' and '\' both separate,
// repeated and trailing separators do not count, nor does "." except as the first
// component of a path without root, and the drive letter's case does not count.
// Nothing else is folded; ".." and links are not resolved.
[[nodiscard]] bool same_path_components(std::string_view a, std::string_view b);

// A text that is equal for two paths exactly when same_path_components holds, for
// hashing.
[[nodiscard]] std::string path_component_key(std::string_view text);

// path_component_key of the path's UTF-8 text.
[[nodiscard]] std::string path_key(const std::filesystem::path& path);

} // namespace config
