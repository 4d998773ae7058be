// When two path texts name the same path, however they are spelled.

#include "config/path_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

TEST(PathKeys, ComparisonByComponents)
{
    struct Case {
        std::string_view a;
        std::string_view b;
        bool same;
    };
    const Case cases[] = {
        {"C:\\Users\\x", "c:/Users/x/", true},
        {"C:\\Users\\x", "C:\\users\\x", false},
        {"a\\\\b", "a/b", true},
        {"a/./b", "a/b", true},
        {"./a", "a", false},
        {"/./a", "/a", true},
        {"C:a", "C:\\a", false},
        {"/a", "a", false},
        {"\\\\server\\share", "\\server\\share", false},
        {"a/../b", "b", false},
        {"a/b.", "a/b", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + std::string(c.b));
        EXPECT_EQ(config::same_path_components(c.a, c.b), c.same);
        EXPECT_EQ(config::same_path_components(c.b, c.a), c.same);
    }
}

} // namespace
