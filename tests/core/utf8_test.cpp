#include "core/utf8.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8, LossyReplacesMaximalSubparts)
{
    struct Case {
        std::string_view name;
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"ascii", "abc", "abc"},
        {"korean", "\xED\x9A\x8C", "\xED\x9A\x8C"},
        {"lone continuation", "a\x80z", "a\xEF\xBF\xBDz"},
        {"truncated three-byte", "\xE2\x82", "\xEF\xBF\xBD"},
        {"surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong three-byte", "\xE0\x80\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong three-byte at the edge", "\xE0\x9F\xBF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"shortest three-byte", "\xE0\xA0\x80", "\xE0\xA0\x80"},
        {"overlong four-byte", "\xF0\x8F\xBF\xBF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"largest four-byte", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(core::lossy_utf8(c.in), c.out);
        EXPECT_EQ(core::is_valid_utf8(c.in), c.in == c.out);
    }
}

TEST(Utf8, Utf16RoundTripAndUnpairedSurrogate)
{
    const std::u16string text = u"a\uD55C\U0001F4C1";
    EXPECT_EQ(core::utf8_to_utf16(core::utf16_to_utf8(text)), text);
    const char16_t lone[] = {u'x', 0xD800, u'y', 0};
    EXPECT_EQ(core::utf16_to_utf8(lone), "x\xEF\xBF\xBDy");
}

TEST(Utf8, Utf16SurrogateEdges)
{
    struct Case {
        std::string_view name;
        std::u16string in;
        std::string out;
    };
    const std::string fffd = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"lowest pair", {0xD800, 0xDC00}, "\xF0\x90\x80\x80"},
        {"highest pair", {0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
        {"last high surrogate with the first low one", {0xDBFF, 0xDC00}, "\xF4\x8F\xB0\x80"},
        {"first high surrogate with the last low one", {0xD800, 0xDFFF}, "\xF0\x90\x8F\xBF"},
        {"low surrogate first", {0xDC00, u'a'}, fffd + "a"},
        {"low then high", {0xDC00, 0xD800}, fffd + fffd},
        {"two low surrogates", {0xDC00, 0xDC00}, fffd + fffd},
        {"last low surrogate alone", {0xDFFF}, fffd},
        {"high surrogate at the end", {u'a', 0xDBFF}, "a" + fffd},
        {"two high surrogates then a low one", {0xD800, 0xDBFF, 0xDC00}, fffd + "\xF4\x8F\xB0\x80"},
        {"just below the surrogates", {0xD7FF}, "\xED\x9F\xBF"},
        {"just above the surrogates", {0xE000}, "\xEE\x80\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(core::utf16_to_utf8(c.in), c.out);
    }
}

} // namespace
