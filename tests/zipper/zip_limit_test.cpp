#include "zipper/archive_builder.h"
#include "zipper/limited_file.h"

#include "platform/file.h"
#include "platform/unicode.h"
#include "support/json_field.h"
#include "support/scratch_dir.h"
#include "archive_fixture.h"
#include "zip_readers.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

namespace fs = std::filesystem;
using test_support::ScratchDir;
using test_support::field;
using zipper::LimitedFile;
using zipper::ZipError;

constexpr std::string_view limit_message = "폴더/파일 압축 후 크기가 최대 허용 한도(500MB)를 초과하여 중단되었습니다.";

using zip_test::open_limited;

TEST(LimitedFile, RefusesAnyWriteEndingPastTheLimit)
{
    ScratchDir dir;
    const auto path = dir / "out.bin";
    auto out = open_limited(path, 100);
    const std::string bytes(100, 'x');
    struct Step {
        std::uint64_t seek_to;
        std::size_t size;
        bool passes;
    };
    const Step steps[] = {
        {0, 60, true},  {60, 40, true}, // ends exactly at the limit
        {100, 1, false}, {10, 20, true}, // a patch below the end
        {95, 6, false},                  // refused whole, not the 5 bytes that would fit
    };
    std::uint64_t size = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(std::to_string(s.seek_to) + "+" + std::to_string(s.size));
        ASSERT_TRUE(out.seek(s.seek_to));
        auto put = out.write(bytes.data(), s.size);
        if (s.passes) {
            ASSERT_TRUE(put) << put.error().text;
            EXPECT_EQ(*put, s.size);
        } else {
            ASSERT_FALSE(put);
            EXPECT_EQ(put.error().kind, ZipError::Kind::file_too_large);
            EXPECT_EQ(put.error().text, "ZIP_LIMIT_EXCEEDED");
        }
        if (s.passes)
            size = std::max<std::uint64_t>(size, s.seek_to + s.size);
        EXPECT_EQ(fs::file_size(path), size); // nothing of a refused write lands
    }
    out.close();
    EXPECT_EQ(fs::file_size(path), 100u);
}

// Passes at most `max_take` bytes per write on, and nothing once `budget` bytes are in;
// refuses the seek of number `refused_seek` (from 1; 0 refuses none).
class TrickleOutput final : public zipper::ZipOutput {
public:
    TrickleOutput(zipper::ZipOutput& inner, std::size_t max_take, std::uint64_t budget, int refused_seek)
        : m_inner(inner), m_max_take(max_take), m_budget(budget), m_refused_seek(refused_seek) {}
    zipper::ZipResult<std::size_t> write(const char* data, std::size_t size) override
    {
        const std::size_t n = std::min<std::uint64_t>({size, m_max_take, m_budget});
        m_budget -= n;
        if (n == 0)
            return 0;
        return m_inner.write(data, n);
    }
    zipper::ZipResult<void> flush() override { return m_inner.flush(); }
    zipper::ZipResult<std::uint64_t> seek(std::uint64_t offset) override
    {
        if (++m_seeks == m_refused_seek)
            return std::unexpected(ZipError{ZipError::Kind::io, "seek refused"});
        return m_inner.seek(offset);
    }
    zipper::ZipResult<std::uint64_t> position() override { return m_inner.position(); }

private:
    zipper::ZipOutput& m_inner;
    std::size_t m_max_take;
    std::uint64_t m_budget;
    int m_refused_seek;
    int m_seeks = 0;
};

class ZipCap : public ::testing::Test {
protected:
    ZipCap()
    {
        m_a = zip_test::incompressible_bytes(200'000, 11);
        for (int i = 0; i < 50; ++i)
            m_b += "hello " + std::to_string(i) + "\n";
        zip_test::write_bytes(m_dir / "a.bin", m_a);
        zip_test::write_bytes(m_dir / "b.txt", m_b);
    }

    struct Outcome {
        std::optional<std::string> failed_a, failed_b, failed_finish;
        std::uint64_t done = 0;
        std::uint64_t b_header_end = 0; // output offset once b's local header is out
        std::uint64_t end = 0;
    };

    Outcome pack(zipper::ZipOutput& out)
    {
        Outcome o;
        zipper::ZipWriter writer(out);
        std::atomic<std::uint64_t> done{0};
        const auto& opts = zipper::archive_entry_options;
        auto finish = [&] {
            o.done = done.load();
            return o;
        };
        if (auto r = zipper::add_file_to_zip(writer, m_dir / "a.bin", "a.bin", opts, done); !r) {
            o.failed_a = r.error();
            return finish();
        }
        if (auto r = zipper::add_file_to_zip(writer, m_dir / "b.txt", "b.txt", opts, done); !r) {
            o.failed_b = r.error();
            return finish();
        }
        o.b_header_end = *out.position();
        if (auto r = writer.finish(); !r) {
            o.failed_finish = zipper::zip_error_message(r.error());
            return finish();
        }
        o.end = *out.position();
        return finish();
    }

    ScratchDir m_dir;
    std::string m_a, m_b;
};

TEST_F(ZipCap, StrikesWhileWritingAtTheNextEntryAndAtTheFinish)
{
    auto ref_out = open_limited(m_dir / "ref.zip", std::numeric_limits<std::uint64_t>::max());
    const Outcome ref = pack(ref_out);
    ref_out.close();
    ASSERT_GT(ref.end, 0u);
    const std::uint64_t b_offset = ref.b_header_end - 30 - 5; // b's local header start

    enum class Where { data_of_a, start_of_b, finish, nowhere };
    struct Case {
        std::string_view name;
        std::uint64_t limit;
        Where where;
    };
    const Case cases[] = {
        {"while writing data", 35 + 100'000, Where::data_of_a},
        {"at the next entry: the last compressed bytes", b_offset - 1, Where::start_of_b},
        {"at the next entry: its local header", b_offset + 10, Where::start_of_b},
        {"at the finish", ref.end - 1, Where::finish},
        {"an archive ending exactly at the limit", ref.end, Where::nowhere},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = m_dir / "capped.zip";
        auto out = open_limited(path, c.limit);
        const Outcome o = pack(out);
        out.close();
        EXPECT_LE(fs::file_size(path), c.limit);
        switch (c.where) {
        case Where::data_of_a:
            EXPECT_EQ(o.failed_a, limit_message);
            EXPECT_GT(o.done, 0u); // some chunks went in before the cap struck
            EXPECT_LT(o.done, m_a.size());
            break;
        case Where::start_of_b:
            EXPECT_EQ(o.failed_b, limit_message);
            EXPECT_EQ(o.done, m_a.size());
            break;
        case Where::finish:
            EXPECT_EQ(o.failed_finish, limit_message);
            EXPECT_EQ(o.done, m_a.size() + m_b.size());
            break;
        case Where::nowhere:
            EXPECT_FALSE(o.failed_a || o.failed_b || o.failed_finish);
            EXPECT_EQ(fs::file_size(path), c.limit);
            zip_test::expect_archive(path, {{"a.bin", m_a}, {"b.txt", m_b}}, zip_test::Order::as_given);
            break;
        }
    }
}

TEST_F(ZipCap, ShortWritesGoOnAndAStoppedOutputFails)
{
    auto ref_out = open_limited(m_dir / "ref.zip", zipper::MAX_ZIP_BYTES);
    const Outcome ref = pack(ref_out);
    ref_out.close();
    const std::string reference = zip_test::read_bytes(m_dir / "ref.zip");

    constexpr auto all = std::numeric_limits<std::uint64_t>::max();
    // Seeks: to a's patch and back at the start of b (1, 2), then b's at the finish (3, 4).
    struct Case {
        std::string_view name;
        std::size_t max_take;
        std::uint64_t budget;
        std::optional<std::string> failed_a;
        int refused_seek = 0;
        std::optional<std::string> failed_b = std::nullopt, failed_finish = std::nullopt;
    };
    const Case cases[] = {
        {"seven bytes per write", 7, all, std::nullopt},
        {"nothing taken of the first header", 7, 0, "압축 중 입출력 오류: failed to write whole buffer"},
        {"nothing taken of the data", 1 << 20, 35, "압축 데이터 기록 실패: failed to write whole buffer"},
        {"the seek to b's patch refused at the finish", 1 << 20, all, std::nullopt, 3, std::nullopt,
         "압축 중 입출력 오류: seek refused"},
        {"the seek back from b's patch refused at the finish", 1 << 20, all, std::nullopt, 4, std::nullopt,
         "압축 중 입출력 오류: seek refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = m_dir / "trickle.zip";
        auto file = open_limited(path, zipper::MAX_ZIP_BYTES);
        TrickleOutput out(file, c.max_take, c.budget, c.refused_seek);
        const Outcome o = pack(out);
        file.close();
        EXPECT_EQ(o.failed_a, c.failed_a);
        EXPECT_EQ(o.failed_b, c.failed_b);
        EXPECT_EQ(o.failed_finish, c.failed_finish);
        if (!c.failed_a && !c.failed_b && !c.failed_finish) {
            EXPECT_EQ(zip_test::read_bytes(path), reference);
            zip_test::expect_archive(path, {{"a.bin", m_a}, {"b.txt", m_b}}, zip_test::Order::as_given);
        }
    }
}

TEST(ZipErrorMessage, LimitByKindOrMarkerElseByKind)
{
    struct Case {
        ZipError::Kind kind;
        std::string_view text;
        std::string_view expected;
    };
    const Case cases[] = {
        {ZipError::Kind::file_too_large, "ZIP_LIMIT_EXCEEDED", limit_message},
        {ZipError::Kind::file_too_large, "File too large", limit_message},
        {ZipError::Kind::io, "wrapped: ZIP_LIMIT_EXCEEDED (x)", limit_message},
        {ZipError::Kind::io, "zip_limit_exceeded", "압축 중 입출력 오류: zip_limit_exceeded"},
        {ZipError::Kind::io, "Disk full (os error 28)", "압축 중 입출력 오류: Disk full (os error 28)"},
        {ZipError::Kind::writer, "entry name is longer than 65535 bytes",
         "ZIP 압축 오류: entry name is longer than 65535 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const ZipError error{c.kind, std::string(c.text)};
        EXPECT_EQ(zipper::zip_error_message(error), c.expected);
    }
}

TEST(ZipWriterLimits, RefusesWhatNeedsZip64OrLongNames)
{
    ScratchDir dir;
    auto out = open_limited(dir / "x.zip", zipper::MAX_ZIP_BYTES);
    zipper::ZipWriter writer(out);
    auto started = writer.start_file(std::string(65536, 'n'), zipper::archive_entry_options);
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().kind, ZipError::Kind::writer);
}

// The real cap: DEFLATE level 6 stores the incompressible bytes in blocks of 16,383
// bytes, each with a 5-byte header, so the archive's size is known before it is built.
TEST(ZipCapAtTheRealLimit, ArchiveOfExactlyTheLimitIsAccepted)
{
    ScratchDir dir;
    test_support::ScopedEnv tmpdir("TMPDIR", platform::path_to_utf8(dir.path()));
    test_support::ScopedEnv tmp("TMP", platform::path_to_utf8(dir.path()));
    test_support::ScopedEnv temp("TEMP", platform::path_to_utf8(dir.path()));
    const std::string name = "r.bin";
    const std::uint64_t overhead = 30 + name.size() + 46 + name.size() + 22;
    const std::uint64_t target = zipper::MAX_ZIP_BYTES - overhead; // compressed size wanted
    std::uint64_t size = 0;
    for (std::uint64_t blocks = target / 16388 - 3; blocks < target / 16388 + 4; ++blocks) {
        const std::uint64_t n = target - 5 * blocks;
        if ((n + 16382) / 16383 == blocks && n % 16383 > 1024)
            size = n;
    }
    ASSERT_GT(size, 0u);
    zip_test::write_incompressible_file(dir / name, size, 5);

    std::atomic<std::uint64_t> done{0};
    auto archive = zipper::build_archive({dir / name}, done);
    ASSERT_TRUE(archive) << archive.error();
    EXPECT_EQ(fs::file_size(*archive), zipper::MAX_ZIP_BYTES);
    EXPECT_EQ(done.load(), size);
    fs::remove(dir / name);
    if (auto report = zip_test::archive_report(*archive, 0)) {
        const auto& e = (*report)["entries"].at(0);
        EXPECT_EQ(field(e, "name"), name);
        EXPECT_EQ(field(e, "file_size"), size);
        EXPECT_EQ(field(e, "read_length"), size);
        EXPECT_EQ(field(e, "read_crc"), field(e, "crc"));
        EXPECT_EQ(field(field(e, "local"), "crc"), field(e, "crc"));
        EXPECT_EQ(field(field(e, "local"), "compressed"), field(e, "compress_size"));
        if (auto tested = zip_test::run_tool("unzip", {"-tqq", platform::path_to_utf8(*archive)})) {
            EXPECT_EQ(tested->exit_code, 0) << tested->output;
        }
    }
    fs::remove(*archive);
}

} // namespace
