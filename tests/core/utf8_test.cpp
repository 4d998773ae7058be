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

} // namespace
