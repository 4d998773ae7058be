#include "zipper/zip_writer.h"

#include "support/json_field.h"
#include "support/scratch_dir.h"
#include "archive_fixture.h"
#include "zip_readers.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using test_support::field;

// Each entry is compressed at its own level, whatever the entry before it had: level 0
// stores the data (no smaller than it is), level 9 shrinks this text to a fraction.
TEST(ZipWriterLevels, EachEntryAtItsOwnLevel)
{
    struct Entry {
        std::string_view name;
        int level;
        bool shrinks;
    };
    const Entry entries[] = {
        {"stored first.txt", 0, false},
        {"best.txt", 9, true},
        {"stored after best.txt", 0, false},
        {"stored twice.txt", 0, false},
        {"default.txt", 6, true},
    };
    std::string text;
    for (int i = 0; text.size() < 20'000; ++i)
        text += "line " + std::to_string(i % 50) + " of a text that repeats\n";

    test_support::ScratchDir dir;
    const auto path = dir / "levels.zip";
    {
        auto out = zip_test::open_limited(path, std::numeric_limits<std::uint64_t>::max());
        zipper::ZipWriter writer(out);
        for (const Entry& e : entries) {
            SCOPED_TRACE(e.name);
            zipper::EntryOptions options;
            options.level = e.level;
            auto started = writer.start_file(e.name, options);
            ASSERT_TRUE(started) << started.error().text;
            ASSERT_TRUE(writer.write_all(text.data(), text.size()));
        }
        ASSERT_TRUE(writer.finish());
        out.close();
    }
    std::vector<zip_test::ExpectedEntry> expected;
    for (const Entry& e : entries)
        expected.push_back({std::string(e.name), text});
    zip_test::expect_archive(path, expected, zip_test::Order::as_given);

    const auto report = zip_test::archive_report(path);
    ASSERT_TRUE(report);
    ASSERT_EQ((*report)["entries"].size(), std::size(entries));
    for (std::size_t i = 0; i < std::size(entries); ++i) {
        SCOPED_TRACE(entries[i].name);
        const auto compressed = field((*report)["entries"][i], "compress_size").get<std::uint64_t>();
        if (entries[i].shrinks)
            EXPECT_LT(compressed, text.size() / 4);
        else
            EXPECT_GE(compressed, text.size());
    }
}

} // namespace
