#include "shell/menu_icon.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

std::uint32_t le(const std::string& b, std::size_t at, int width)
{
    std::uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

TEST(MenuIcon, HeaderFields)
{
    const std::string ico = shell::menu_icon_bytes();
    ASSERT_EQ(ico.size(), 1150u);
    struct Field {
        std::string_view name;
        std::size_t at;
        int width;
        std::uint32_t value;
    };
    const Field fields[] = {
        {"reserved", 0, 2, 0},        {"type icon", 2, 2, 1},        {"image count", 4, 2, 1},
        {"width", 6, 1, 16},          {"height", 7, 1, 16},          {"palette", 8, 1, 0},
        {"reserved byte", 9, 1, 0},   {"planes", 10, 2, 1},          {"bits", 12, 2, 32},
        {"data size", 14, 4, 1128},   {"data offset", 18, 4, 22},    {"bitmap header", 22, 4, 40},
        {"bitmap width", 26, 4, 16},  {"bitmap height", 30, 4, 32},  {"bitmap planes", 34, 2, 1},
        {"bitmap bits", 36, 2, 32},   {"compression", 38, 4, 0},     {"image size", 42, 4, 1088},
        {"x resolution", 46, 4, 0},   {"y resolution", 50, 4, 0},    {"colours used", 54, 4, 0},
        {"colours important", 58, 4, 0},
    };
    for (const auto& f : fields) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(le(ico, f.at, f.width), f.value);
    }
    // The header's sizes and offset describe the file itself.
    EXPECT_EQ(le(ico, 18, 4) + le(ico, 14, 4), ico.size());
}

TEST(MenuIcon, PixelsAndMask)
{
    const std::string ico = shell::menu_icon_bytes();
    ASSERT_EQ(ico.size(), 1150u);
    const auto pixel = [&](int r, int c) { return ico.substr(62 + static_cast<std::size_t>(r * 16 + c) * 4, 4); };
    const std::string clear("\x00\x00\x00\x00", 4), white("\xFF\xFF\xFF\xFF", 4), purple("\xD9\x28\x6D\xFF", 4);
    struct Case {
        std::string_view name;
        int r, c;
        const std::string& bytes;
    };
    const Case cases[] = {
        {"top-left corner", 0, 0, clear},       {"corner inner cell", 1, 1, clear},
        {"top-right corner", 0, 15, clear},     {"bottom-left corner", 15, 1, clear},
        {"bottom-right corner", 14, 14, clear}, {"edge beside corner", 0, 2, purple},
        {"edge below corner", 2, 0, purple},    {"inside", 2, 2, purple},
        {"frame top-left", 5, 4, white},        {"frame top-right", 5, 11, white},
        {"frame bottom", 10, 7, white},         {"frame left side", 8, 4, white},
        {"frame right side", 6, 11, white},     {"bar start", 7, 6, white},
        {"bar end", 8, 9, white},               {"beside the bar", 7, 5, purple},
        {"beyond the bar", 8, 10, purple},      {"inside the frame", 6, 6, purple},
        {"outside the frame", 4, 4, purple},    {"below the frame", 11, 11, purple},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pixel(c.r, c.c), c.bytes);
    }
    int white_count = 0;
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c)
            white_count += pixel(r, c) == white;
    EXPECT_EQ(white_count, 8 * 2 + 4 * 2 + 4 * 2); // two frame rows, the sides between, the bar
    EXPECT_EQ(ico.substr(1086), std::string(64, '\0'));
}

} // namespace
