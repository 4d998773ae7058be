#include "shell/menu_icon.h"

#include <cstdint>

namespace shell {

namespace {

constexpr int side = 16;
constexpr std::uint32_t header_size = 6 + 16; // ICONDIR and one ICONDIRENTRY
constexpr std::uint32_t bitmap_header_size = 40;
constexpr std::uint32_t pixel_bytes = side * side * 4;
constexpr std::uint32_t mask_bytes = side * 4; // 1 bit per pixel, rows padded to 32 bits
constexpr std::uint32_t image_size = bitmap_header_size + pixel_bytes + mask_bytes;
static_assert(header_size + image_size == menu_icon_size);

void put16(std::string& out, std::uint16_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void put32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool is_corner(int r, int c)
{
    const auto edge = [](int v) { return v <= 1 || v >= side - 2; };
    return edge(r) && edge(c);
}

bool is_white(int r, int c)
{
    const bool frame_rows = (r == 5 || r == 10) && c >= 4 && c <= 11;
    const bool frame_cols = (c == 4 || c == 11) && r >= 5 && r <= 10;
    const bool bar = (r == 7 || r == 8) && c >= 6 && c <= 9;
    return frame_rows || frame_cols || bar;
}

} // namespace

std::string menu_icon_bytes()
{
    std::string out;
    out.reserve(menu_icon_size);
    // ICONDIR
    put16(out, 0);
    put16(out, 1);
    put16(out, 1);
    // ICONDIRENTRY
    out += static_cast<char>(side);
    out += static_cast<char>(side);
    out += '\0'; // no palette
    out += '\0';
    put16(out, 1);
    put16(out, 32);
    put32(out, image_size);
    put32(out, header_size);
    // BITMAPINFOHEADER; the height counts the colour rows and the mask rows.
    put32(out, bitmap_header_size);
    put32(out, side);
    put32(out, side * 2);
    put16(out, 1);
    put16(out, 32);
    put32(out, 0);
    put32(out, pixel_bytes + mask_bytes);
    for (int i = 0; i < 4; ++i)
        put32(out, 0);
    // Bitmaps run bottom-up; the picture is symmetric top to bottom, so rows go in order.
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
            if (is_corner(r, c))
                out.append("\x00\x00\x00\x00", 4);
            else if (is_white(r, c))
                out.append("\xFF\xFF\xFF\xFF", 4);
            else
                out.append("\xD9\x28\x6D\xFF", 4); // #6D28D9 as blue, green, red, alpha
        }
    }
    out.append(mask_bytes, '\0'); // the alpha channel decides; the mask is empty
    return out;
}

} // namespace shell
