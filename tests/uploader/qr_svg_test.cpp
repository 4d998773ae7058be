#include "uploader/qr_encoder.h"
#include "uploader/qr_segments.h"
#include "uploader/qr_svg.h"
#include "uploader/qr_text_gen.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

TEST(QrSvg, GeometryOfEveryVersion)
{
    struct Row {
        std::uint32_t version, n, w, u, s;
    };
    const Row rows[] = {
        {1, 21, 29, 9, 261},  {2, 25, 33, 8, 264},  {3, 29, 37, 7, 259},    {4, 33, 41, 6, 246},
        {5, 37, 45, 6, 270},  {6, 41, 49, 5, 245},  {7, 45, 53, 5, 265},    {8, 49, 57, 5, 285},
        {9, 53, 61, 4, 244},  {10, 57, 65, 4, 260}, {14, 73, 81, 3, 243},   {24, 113, 121, 2, 242},
        {40, 177, 185, 2, 370},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE("version " + std::to_string(r.version));
        const auto g = uploader::qr_svg_geometry(17 + 4 * r.version);
        EXPECT_EQ(17 + 4 * r.version, r.n);
        EXPECT_EQ(g.quiet_width, r.w);
        EXPECT_EQ(g.unit, r.u);
        EXPECT_EQ(g.picture, r.s);
    }
    for (std::uint32_t v = 1; v <= 40; ++v) {
        SCOPED_TRACE("version " + std::to_string(v));
        const auto g = uploader::qr_svg_geometry(17 + 4 * v);
        if (v >= 11) {
            EXPECT_EQ(g.unit, v <= 13 ? 4u : v <= 23 ? 3u : 2u);
        }
        EXPECT_GE(g.picture, 240u);
        EXPECT_LT((g.unit - 1) * g.quiet_width, 240u) << "the unit is the least that reaches 240";
        EXPECT_EQ(g.picture, g.unit * g.quiet_width);
    }
}

// The whole text for several versions: fixed head and tail, then one square per dark
// module in row order and nothing else.
TEST(QrSvg, DocumentLayout)
{
    const std::regex square(R"(M(\d+) (\d+)h(\d+)v(\d+)H(\d+)V(\d+))");
    for (const std::size_t length : {0u, 14u, 30u, 200u, 1200u, 2331u}) {
        const std::string link = qr_test::mixed_text(length, 99);
        SCOPED_TRACE("length " + std::to_string(length));
        const auto code = uploader::encode_qr(link);
        const auto svg = uploader::render_qr_svg(link);
        ASSERT_TRUE(code && svg);
        const auto g = uploader::qr_svg_geometry(static_cast<std::uint32_t>(code->size));
        const std::string s = std::to_string(g.picture);
        const std::string head = R"(<?xml version="1.0" standalone="yes"?><svg xmlns="http://www.w3.org/2000/svg")"
                                 R"( version="1.1" width=")" + s + R"(" height=")" + s + R"(" viewBox="0 0 )" + s +
                                 " " + s + R"(" shape-rendering="crispEdges"><rect x="0" y="0" width=")" + s +
                                 R"(" height=")" + s + R"(" fill="#ffffff"/><path fill="#0f172a" d=")";
        const std::string tail = R"("/></svg>)";
        ASSERT_EQ(svg->substr(0, head.size()), head);
        ASSERT_TRUE(svg->ends_with(tail));
        const std::string path = svg->substr(head.size(), svg->size() - head.size() - tail.size());
        const std::string first = "M" + std::to_string(4 * g.unit) + " " + std::to_string(4 * g.unit) + "h";
        EXPECT_TRUE(path.starts_with(first));

        std::size_t squares = 0;
        long last = -1;
        std::size_t covered = 0;
        for (std::sregex_iterator it(path.begin(), path.end(), square), end; it != end; ++it) {
            const auto& m = *it;
            ASSERT_EQ(static_cast<std::size_t>(m.position()), covered) << "only squares in the path";
            covered += static_cast<std::size_t>(m.length());
            const auto x = std::stoul(m[1]), y = std::stoul(m[2]);
            ASSERT_EQ(std::stoul(m[3]), g.unit);
            ASSERT_EQ(std::stoul(m[4]), g.unit);
            ASSERT_EQ(std::stoul(m[5]), x);
            ASSERT_EQ(std::stoul(m[6]), y);
            ASSERT_EQ(x % g.unit, 0u);
            ASSERT_EQ(y % g.unit, 0u);
            const long col = static_cast<long>(x / g.unit) - 4, row = static_cast<long>(y / g.unit) - 4;
            ASSERT_TRUE(code->dark(static_cast<int>(row), static_cast<int>(col)));
            ASSERT_GT(row * code->size + col, last) << "row order";
            last = row * code->size + col;
            ++squares;
        }
        EXPECT_EQ(covered, path.size());
        EXPECT_EQ(squares, static_cast<std::size_t>(std::count(code->modules.begin(), code->modules.end(), 1)));
        EXPECT_EQ(svg->find('\n'), std::string::npos);
    }
}

TEST(QrSvg, VersionOneStartsWithTheFinderRow)
{
    for (const std::string link : {"", "a", "https://v.kr/a", "HTTPS://VANO.KR/AB12", "0123456789012345678901234567890123"}) {
        SCOPED_TRACE(link);
        ASSERT_EQ(uploader::encode_qr(link)->version, 1);
        const auto svg = uploader::render_qr_svg(link);
        ASSERT_TRUE(svg);
        EXPECT_NE(svg->find(R"( width="261" height="261" )"), std::string::npos);
        EXPECT_NE(svg->find(R"(d="M36 36h9v9H36V36M45 36h9v9H45V36)"), std::string::npos);
    }
}

// Level M capacities of version 40: 2331 bytes, 3391 alphanumeric characters, 5596 digits.
TEST(QrSvg, RefusesWhatVersion40CannotHold)
{
    struct Case {
        std::string_view name;
        std::string text;
        bool fits;
    };
    const Case cases[] = {
        {"bytes at capacity", std::string(2331, 'a'), true},
        {"one byte more", std::string(2332, 'a'), false},
        {"upper case at capacity", std::string(3391, 'A'), true},
        {"one more upper case", std::string(3392, 'A'), false},
        {"digits at capacity", std::string(5596, '9'), true},
        {"one digit more", std::string(5597, '9'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(uploader::render_qr_svg(c.text).has_value(), c.fits);
        if (c.fits) {
            EXPECT_EQ(uploader::encode_qr(c.text)->version, 40);
        }
    }
}

bool have_tool(const std::string& probe)
{
    return std::system((probe + " >/dev/null 2>&1").c_str()) == 0;
}

std::string read_all(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Real readers: librsvg draws the text, zbar decodes the picture.
TEST(QrSvg, ZbarReadsWhatWeDraw)
{
    if (!have_tool("rsvg-convert --version") || !have_tool("zbarimg --version"))
        GTEST_SKIP() << "rsvg-convert or zbarimg missing";
    const auto dir = std::filesystem::temp_directory_path() / ("vano_qr_test_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    std::vector<std::string> links = {
        "https://vano.example/AbC123",
        "https://vano.example/0123456789012345678901234567890",
        "HTTPS://VANO.EXAMPLE/ABCDEFGHIJKLMNOPQRSTUVWXYZ",
        "https://vano.example/\xED\x95\x9C\xEA\xB8\x80",
    };
    for (const std::size_t length : {1u, 14u, 60u, 150u, 300u, 500u, 800u, 1100u, 1500u, 1900u, 2200u, 2331u})
        links.push_back(qr_test::mixed_text(length, static_cast<std::uint32_t>(length) * 31));
    std::set<int> versions;
    std::set<uploader::QrMode> modes;
    for (std::size_t i = 0; i < links.size(); ++i) {
        const auto& link = links[i];
        SCOPED_TRACE("link " + std::to_string(i) + ", " + std::to_string(link.size()) + " bytes");
        const auto svg = uploader::render_qr_svg(link);
        ASSERT_TRUE(svg);
        const int version = uploader::encode_qr(link)->version;
        versions.insert(version);
        for (const auto& seg : uploader::qr_segments(link, version))
            modes.insert(seg.mode);
        const auto svg_path = dir / "code.svg", png_path = dir / "code.png", out_path = dir / "out.txt",
                   err_path = dir / "err.txt";
        std::ofstream(svg_path, std::ios::binary) << *svg;
        // Twice the size, so even version 40 has four pixels a module.
        // rsvg-convert's stderr holds harmless D-Bus chatter on machines without a bus.
        const std::string err = " 2> '" + err_path.string() + "'";
        const std::string render = "rsvg-convert -z 2 -o '" + png_path.string() + "' '" + svg_path.string() + "'" + err;
        ASSERT_EQ(std::system(render.c_str()), 0) << read_all(err_path);
        const std::string decode = "zbarimg --raw -q '" + png_path.string() + "' > '" + out_path.string() + "'" + err;
        ASSERT_EQ(std::system(decode.c_str()), 0) << read_all(err_path);
        EXPECT_EQ(read_all(out_path), link + "\n");
    }
    EXPECT_TRUE(versions.contains(1) && versions.contains(40));
    EXPECT_EQ(modes.size(), 3u) << "the links should switch between all three modes";
    std::filesystem::remove_all(dir);
}

} // namespace
