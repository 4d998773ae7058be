#include "platform/unicode.h"

#include "core/utf8.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

TEST(Unicode, NfcComposes)
{
    struct Case {
        std::string_view name;
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"ascii unchanged", "report.pdf", "report.pdf"},
        {"e and combining acute", "e\xCC\x81", "\xC3\xA9"},
        {"decomposed hangul jamo", "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB", "\xED\x95\x9C"},
        {"already composed hangul", "\xEC\x82\xAC\xEC\xA7\x84", "\xEC\x82\xAC\xEC\xA7\x84"},
        {"ill-formed becomes U+FFFD", "a\xFFz", "a\xEF\xBF\xBDz"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::nfc(c.in), c.out);
    }
}

TEST(Unicode, LowerByFullCaseMapping)
{
    struct Case {
        std::string_view name;
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"ascii", "MP4", "mp4"},
        {"mixed", "DocX", "docx"},
        {"dotted capital I gives i and combining dot", "\xC4\xB0", "i\xCC\x87"},
        {"capital sharp s", "\xE1\xBA\x9E", "\xC3\x9F"},
        {"greek", "\xCE\xA3\xCE\x91", "\xCF\x83\xCE\xB1"},
        {"cyrillic", "\xD0\x96", "\xD0\xB6"},
        {"deseret outside the BMP", "\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},
        {"kelvin sign", "\xE2\x84\xAA", "k"},
        {"georgian capital", "\xE1\x82\xA0", "\xE2\xB4\x80"},
        {"latin extended run of pairs", "\xC4\x80\xC4\xAE", "\xC4\x81\xC4\xAF"},
        {"already lower in a run of pairs", "\xC4\x81", "\xC4\x81"},
        {"ill-formed", "A\xFF", "a\xEF\xBF\xBD"},
        {"hangul unchanged", "\xED\x95\x9C", "\xED\x95\x9C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::to_lower_full(c.in), c.out);
    }
}

TEST(Unicode, UpperBySimpleCaseMapping)
{
    struct Case {
        std::string_view name;
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"ascii", "docx.Pdf", "DOCX.PDF"},
        {"final and medial sigma alike", "\xCF\x82\xCF\x83", "\xCE\xA3\xCE\xA3"},
        {"micro sign gives capital mu", "\xC2\xB5", "\xCE\x9C"},
        {"long s gives S", "\xC5\xBF", "S"},
        {"sharp s has no one-letter upper case", "\xC3\x9F", "\xC3\x9F"},
        {"dotless i gives I", "\xC4\xB1", "I"},
        {"y with diaeresis leaves Latin-1", "\xC3\xBF", "\xC5\xB8"},
        {"titlecase dz gives the capital", "\xC7\x85", "\xC7\x84"},
        {"alpha with ypogegrammeni keeps one letter", "\xE1\xBE\x80", "\xE1\xBE\x88"},
        {"capital unchanged", "\xCE\xA3", "\xCE\xA3"},
        {"deseret outside the BMP", "\xF0\x90\x90\xA8", "\xF0\x90\x90\x80"},
        {"ill-formed", "a\xFF", "A\xEF\xBF\xBD"},
        {"hangul unchanged", "\xED\x95\x9C", "\xED\x95\x9C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::to_upper_simple(c.in), c.out);
    }
}

// The edges of the case runs are where a table of runs goes wrong: the first and last code
// point of each run, the next one of its stride and the ones just outside it. The expected
// mappings come from a second source, frozen in a data file of lines "code mapped" (hex).
void expect_edges(std::string_view file, std::string (*map)(std::string_view))
{
    std::ifstream in(std::string(VANO_SOURCE_DIR) + "/tests/platform/data/" + std::string(file));
    ASSERT_TRUE(in) << file << " not found";
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        unsigned long code = 0, mapped = 0;
        std::istringstream fields(line);
        fields >> std::hex >> code >> mapped;
        ASSERT_FALSE(fields.fail()) << line;
        std::string c, want;
        core::append_utf8(c, static_cast<char32_t>(code));
        core::append_utf8(want, static_cast<char32_t>(mapped));
        EXPECT_EQ(map(c), want) << "U+" << line;
        ++rows;
    }
    EXPECT_GT(rows, 0);
}

TEST(Unicode, LowerCaseAtTheEdgesOfEveryRun) { expect_edges("lower_case_edges.txt", platform::to_lower_full); }

TEST(Unicode, UpperCaseAtTheEdgesOfEveryRun) { expect_edges("upper_case_edges.txt", platform::to_upper_simple); }

TEST(Unicode, WhiteSpaceIsExactlyThe25CodePoints)
{
    int count = 0;
    for (char32_t c = 0; c < 0x110000; ++c)
        count += platform::is_unicode_white_space(c) ? 1 : 0;
    EXPECT_EQ(count, 25);
    for (char32_t c : {U'\t', U'\r', U'\u0085', U'\u00A0', U'\u1680', U'\u2000', U'\u200A', U'\u2028', U'\u2029',
                       U'\u202F', U'\u205F', U'\u3000'})
        EXPECT_TRUE(platform::is_unicode_white_space(c)) << static_cast<unsigned>(c);
    // Look-alikes without the property.
    for (char32_t c : {U'\u200B', U'\u180E', U'\uFEFF', U'\u0000', U'\u001F'})
        EXPECT_FALSE(platform::is_unicode_white_space(c)) << static_cast<unsigned>(c);
}

TEST(Unicode, TrimUnicodeWhiteSpace)
{
    struct Case {
        std::string_view name;
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"spaces and tabs", " \t x y \t ", "x y"},
        {"ideographic and no-break", "\xE3\x80\x80\xC2\xA0url\xE2\x80\x83", "url"},
        {"only white space", " \xE3\x80\x80\n", ""},
        {"zero-width space is kept", "\xE2\x80\x8B" "a", "\xE2\x80\x8B" "a"},
        {"inner kept", "a  b", "a  b"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::trim_unicode_ws(c.in), c.out);
    }
}

TEST(Unicode, PathTextRoundTrip)
{
    const std::string name = "\xEC\x82\xAC\xEC\xA7\x84 \xF0\x9F\x93\x81.jpg";
    const auto path = platform::path_from_utf8(name);
    EXPECT_EQ(platform::path_to_utf8(path), name);
    EXPECT_EQ(platform::path_to_utf8(path.stem()), "\xEC\x82\xAC\xEC\xA7\x84 \xF0\x9F\x93\x81");
}

} // namespace
