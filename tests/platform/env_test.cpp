#include "platform/env.h"

#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(Env, SetEmptyAndAbsentValues)
{
    struct Case {
        std::string_view name;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"plain", std::string("C:\\Users\\x")},
        {"korean", std::string("\xED\x95\x9C\xEA\xB8\x80")},
        {"empty counts as set", std::string()},
        {"absent", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::ScopedEnv env("VANO_TEST_VARIABLE", c.value);
        EXPECT_EQ(platform::env_var("VANO_TEST_VARIABLE"), c.value);
    }
    EXPECT_EQ(platform::env_var("VANO_TEST_VARIABLE"), std::nullopt);
}

TEST(Env, TempDirIsAnExistingFolder)
{
    const auto dir = platform::temp_dir();
    EXPECT_FALSE(dir.empty());
    EXPECT_TRUE(std::filesystem::is_directory(dir));
}

} // namespace
