#pragma once
// What the archive tests share: a temporary folder of the test's own for the archives,
// and a loop over table cases whose set-up the platform may not allow.

#include "platform/file.h"
#include "platform/unicode.h"
#include "support/scratch_dir.h"
#include "zip_readers.h"
#include "zipper/limited_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace zip_test {

inline void put(const std::filesystem::path& path, std::string_view content)
{
    std::filesystem::create_directories(path.parent_path());
    write_bytes(path, content);
}

// A new file at `path` as an archive's output capped at `limit`.
inline zipper::LimitedFile open_limited(const std::filesystem::path& path, std::uint64_t limit)
{
    auto file = platform::File::create_write(path);
    EXPECT_TRUE(file) << file.error();
    return zipper::LimitedFile(std::move(*file), limit);
}

// Archives go to a temporary folder of the test's own, so that leftovers can be counted.
class ArchiveTest : public ::testing::Test {
protected:
    ArchiveTest()
        : m_tmp(m_scratch / "tmp"), m_tmpdir("TMPDIR", platform::path_to_utf8(m_tmp)),
          m_tmp_var("TMP", platform::path_to_utf8(m_tmp)), m_temp_var("TEMP", platform::path_to_utf8(m_tmp))
    {
        std::filesystem::create_directories(m_tmp);
    }

    std::vector<std::filesystem::path> leftovers() const
    {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(m_tmp))
            found.push_back(entry.path());
        return found;
    }

    // Calls `check(c, made)` for each case `c` whose `c.setup(folder)` made its tree in a
    // fresh folder; a case the platform cannot set up gives a note instead.
    template <class Cases, class Check>
    void for_each_case(const Cases& cases, Check check)
    {
        int index = 0;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const std::filesystem::path root = m_scratch / "src" / std::to_string(index++);
            std::filesystem::create_directories(root);
            const auto made = c.setup(root);
            if (!made) {
                std::cout << "[ note ] " << c.name << ": cannot be set up on this platform\n";
                continue;
            }
            check(c, *made);
        }
    }

    test_support::ScratchDir m_scratch;
    std::filesystem::path m_tmp;
    test_support::ScopedEnv m_tmpdir;
    test_support::ScopedEnv m_tmp_var;
    test_support::ScopedEnv m_temp_var;
};

} // namespace zip_test
