#pragma once
// The Explorer menu icon, drawn in code: a purple 16 x 16 square with rounded corners and
// a white frame crossed by a bar, as one 32-bit ICO file.

#include <string>

namespace shell {

inline constexpr std::size_t menu_icon_size = 1150;

// The bytes of vano.ico (menu_icon_size of them).
[[nodiscard]] std::string menu_icon_bytes();

} // namespace shell
