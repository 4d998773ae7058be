#include "uploader/qr_svg.h"

#include "uploader/qr_encoder.h"

#include <algorithm>
#include <charconv>

namespace uploader {

namespace {

constexpr std::uint32_t quiet_zone = 4;
constexpr std::uint32_t min_picture = 240;

void append_number(std::string& out, std::uint32_t value)
{
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

} // namespace

QrSvgGeometry qr_svg_geometry(std::uint32_t modules)
{
    QrSvgGeometry g;
    g.quiet_width = modules + 2 * quiet_zone;
    g.unit = std::max<std::uint32_t>(1, (min_picture + g.quiet_width - 1) / g.quiet_width);
    g.picture = g.unit * g.quiet_width;
    return g;
}

std::optional<std::string> render_qr_svg(std::string_view link)
{
    const auto code = encode_qr(link);
    if (!code)
        return std::nullopt;
    const auto n = static_cast<std::uint32_t>(code->size);
    const QrSvgGeometry g = qr_svg_geometry(n);
    const auto dark = static_cast<std::size_t>(std::count(code->modules.begin(), code->modules.end(), 1));

    std::string out;
    out.reserve(320 + dark * 24);
    out += R"(<?xml version="1.0" standalone="yes"?><svg xmlns="http://www.w3.org/2000/svg" version="1.1" width=")";
    append_number(out, g.picture);
    out += R"(" height=")";
    append_number(out, g.picture);
    out += R"(" viewBox="0 0 )";
    append_number(out, g.picture);
    out += ' ';
    append_number(out, g.picture);
    out += R"(" shape-rendering="crispEdges"><rect x="0" y="0" width=")";
    append_number(out, g.picture);
    out += R"(" height=")";
    append_number(out, g.picture);
    out += R"(" fill="#ffffff"/><path fill="#0f172a" d=")";
    for (std::uint32_t row = 0; row < n; ++row) {
        for (std::uint32_t col = 0; col < n; ++col) {
            if (!code->dark(static_cast<int>(row), static_cast<int>(col)))
                continue;
            const std::uint32_t x = (col + quiet_zone) * g.unit;
            const std::uint32_t y = (row + quiet_zone) * g.unit;
            out += 'M';
            append_number(out, x);
            out += ' ';
            append_number(out, y);
            out += 'h';
            append_number(out, g.unit);
            out += 'v';
            append_number(out, g.unit);
            out += 'H';
            append_number(out, x);
            out += 'V';
            append_number(out, y);
        }
    }
    out += R"("/></svg>)";
    return out;
}

} // namespace uploader
