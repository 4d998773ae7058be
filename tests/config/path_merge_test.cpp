// Merging handed-over paths into a selection: order of first appearance, and one entry per
// path however it is spelled, without confusing different paths.

#include "config/path_merge.h"

#include <gtest/gtest.h>

namespace {

using Paths = std::vector<std::filesystem::path>;

TEST(MergePaths, OrderAndRepeats)
{
    struct Case {
        std::string_view name;
        Paths current;
        Paths incoming;
        config::MergeMode mode;
        Paths merged;
    };
    using config::MergeMode;
    const Case cases[] = {
        {"new paths follow the old ones", {"/s/a", "/s/b"}, {"/s/c"}, MergeMode::append, {"/s/a", "/s/b", "/s/c"}},
        {"repeats in the old list drop out", {"/s/a", "/s/b", "/s/a"}, {"/s/b"}, MergeMode::append, {"/s/a", "/s/b"}},
        {"replace keeps the incoming order", {"/s/a"}, {"/s/c", "/s/b", "/s/c"}, MergeMode::replace, {"/s/c", "/s/b"}},
        {"separators repeated or trailing", {"/s/dir"}, {"/s//dir/", "\\s\\dir"}, MergeMode::append, {"/s/dir"}},
        {"drive letter case", {"C:\\s\\a.pdf"}, {"c:/s/a.pdf"}, MergeMode::append, {"C:\\s\\a.pdf"}},
        {"name case counts", {"/s/a.pdf"}, {"/s/A.pdf"}, MergeMode::append, {"/s/a.pdf", "/s/A.pdf"}},
        {"components are not run together", {"/s/ab/c"}, {"/s/a/bc", "/s/abc"}, MergeMode::append,
         {"/s/ab/c", "/s/a/bc", "/s/abc"}},
        {"rooted and relative differ", {"/s/a"}, {"s/a"}, MergeMode::append, {"/s/a", "s/a"}},
        {"a share name is not a rooted path", {"//s/a"}, {"/s/a"}, MergeMode::append, {"//s/a", "/s/a"}},
        {"a digit name beside a length", {"/1/a"}, {"/1a"}, MergeMode::append, {"/1/a", "/1a"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(config::merge_paths(c.current, c.incoming, c.mode), c.merged);
    }
}

} // namespace
