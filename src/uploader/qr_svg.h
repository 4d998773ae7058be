#pragma once
// The short link's QR code as the SVG text the page shows.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace uploader {

// Sizes of the drawing of a code n modules wide, in modules (quiet_width) and pixels.
struct QrSvgGeometry {
    std::uint32_t quiet_width = 0; // n plus the quiet zone of 4 on both sides
    std::uint32_t unit = 0;        // pixels per module: the least with unit * quiet_width >= 240
    std::uint32_t picture = 0;     // unit * quiet_width, for width and height
};

[[nodiscard]] QrSvgGeometry qr_svg_geometry(std::uint32_t modules);

// The SVG document of `link`'s QR code (its UTF-8 bytes at level M): one line, a light
// background and one path with a square subpath per dark module in row order. nullopt
// when the link is too long for any QR code version. Touches no shared state.
[[nodiscard]] std::optional<std::string> render_qr_svg(std::string_view link);

} // namespace uploader
