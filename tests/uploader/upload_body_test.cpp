#include "uploader/multipart.h"
#include "uploader/upload_job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <memory>

namespace {

using uploader::MultipartBody;

TEST(UploadBody, ContentTypeByName)
{
    struct Case {
        std::string_view name;
        std::string_view type;
    };
    const Case cases[] = {
        {"CLIP.MOV", "video/quicktime"},
        {"movie.tar.mp4", "video/mp4"},
        {"a.m4v", "video/mp4"},
        {"song.OPUS", "audio/ogg"},
        {"report.pdf", "application/pdf"},
        {"사진_외_2건.zip", "application/zip"},
        {"REPORT.ZIP", "application/zip"},
        {"deck.PPTX", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
        {"notes.hwp", "application/octet-stream"},
        {"noextension", "application/octet-stream"},
        {".mp4", "application/octet-stream"},
        {"trailing.", "application/octet-stream"},
        {"bad\xFF.pdf", "application/pdf"},
        {"odd.p\xFF" "df", "application/octet-stream"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(uploader::content_type_for_name(c.name), c.type);
    }
}

TEST(UploadBody, BoundaryIsLowerHexOfTheClock)
{
    EXPECT_EQ(uploader::make_boundary(0), "----VANODuvidBoundary1");
    EXPECT_EQ(uploader::make_boundary(255), "----VANODuvidBoundaryff");
    EXPECT_EQ(uploader::make_boundary(static_cast<unsigned __int128>(1) << 64), "----VANODuvidBoundary10000000000000000");
}

TEST(UploadBody, FileNameCannotBreakItsHeaderLine)
{
    EXPECT_EQ(uploader::sanitize_part_filename("a\"b.pdf"), "a_b.pdf");
    EXPECT_EQ(uploader::sanitize_part_filename("evil\r\nX-Injected: 1.pdf"), "evil__X-Injected: 1.pdf");
    EXPECT_EQ(uploader::sanitize_part_filename("보고서 최종.pdf"), "보고서 최종.pdf");
}

// Reads the whole body in pieces of `piece` bytes.
std::string drain(MultipartBody& body, std::size_t piece)
{
    std::string out;
    std::string buf(piece, '\0');
    for (;;) {
        auto n = body.read(buf);
        EXPECT_TRUE(n.has_value());
        if (!n || *n == 0)
            return out;
        out.append(buf.data(), *n);
    }
}

// Reads `data` from `pos`, which the test may move.
uploader::FileReader string_reader(std::shared_ptr<std::string> data,
                                   std::shared_ptr<std::size_t> pos = std::make_shared<std::size_t>(0))
{
    return [data, pos](std::span<char> dest) -> core::Result<std::size_t> {
        const auto n = std::min(dest.size(), data->size() - *pos);
        std::copy_n(data->data() + *pos, n, dest.data());
        *pos += n;
        return n;
    };
}

// The head of a body with one expiry field and a file part, as the job builds it.
std::string form_head(std::string_view boundary, std::string_view expiry, std::string_view name,
                      std::string_view type)
{
    std::string header;
    uploader::write_form_field(header, boundary, "expiry_option", expiry);
    uploader::write_file_part_head(header, boundary, name, type);
    return header;
}

TEST(UploadBody, BodyBytesAndProgressMatchTheDeclaredTotal)
{
    const std::string b = "----VANODuvidBoundaryabc";
    const std::string header = form_head(b, "30", "report.pdf", "application/pdf");
    const auto trailer = uploader::make_trailer(b);
    const auto file = std::make_shared<std::string>("%PDF-1.4 bytes");

    const std::string expected = "--" + b + "\r\n"
                                 "Content-Disposition: form-data; name=\"expiry_option\"\r\n\r\n"
                                 "30\r\n"
                                 "--" + b + "\r\n"
                                 "Content-Disposition: form-data; name=\"file\"; filename=\"report.pdf\"\r\n"
                                 "Content-Type: application/pdf\r\n\r\n"
                                 "%PDF-1.4 bytes\r\n"
                                 "--" + b + "--\r\n";
    for (const std::size_t piece : {1u, 7u, 64u, 65536u}) {
        SCOPED_TRACE(piece);
        auto progress = std::make_shared<std::atomic<std::uint64_t>>(0);
        MultipartBody body(header, trailer, progress, string_reader(file), file->size());
        EXPECT_EQ(drain(body, piece), expected);
        EXPECT_EQ(progress->load(), expected.size());
        EXPECT_EQ(body.stage(), MultipartBody::Stage::Done);
        std::string more(4, '\0');
        EXPECT_EQ(body.read(more).value_or(99), 0u);
    }
}

// A body read partly (or wholly) and started again yields all of itself once more, and
// the progress counts it once.
TEST(UploadBody, RewindStartsTheBodyAgain)
{
    const std::string b = "----VANODuvidBoundary1f";
    const std::string header = form_head(b, "7", "a.bin", "application/octet-stream");
    const auto trailer = uploader::make_trailer(b);
    const auto file = std::make_shared<std::string>(std::string(5000, 'x') + "end");
    const std::string expected = header + *file + trailer;
    struct Case {
        std::string_view name;
        std::size_t read_before; // bytes taken before the rewind
    };
    const Case cases[] = {
        {"nothing read yet", 0},
        {"inside the header", 10},
        {"inside the file", header.size() + 100},
        {"inside the trailer", header.size() + file->size() + 3},
        {"the whole body", expected.size()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto progress = std::make_shared<std::atomic<std::uint64_t>>(1000); // an earlier body's count stays
        auto pos = std::make_shared<std::size_t>(0);
        MultipartBody body(header, trailer, progress, string_reader(file, pos), file->size(), [pos]() -> core::Result<void> {
            *pos = 0;
            return core::ok();
        });
        std::string taken;
        std::string buf(97, '\0');
        while (taken.size() < c.read_before) {
            const auto n = body.read(std::span<char>(buf).first(std::min(buf.size(), c.read_before - taken.size())));
            ASSERT_TRUE(n && *n > 0);
            taken.append(buf.data(), *n);
        }
        ASSERT_TRUE(body.rewind());
        EXPECT_EQ(progress->load(), 1000u);
        EXPECT_EQ(drain(body, 64), expected);
        EXPECT_EQ(progress->load(), 1000u + expected.size());
    }
}

TEST(UploadBody, RewindThatCannotBeDoneChangesNothing)
{
    const auto progress = std::make_shared<std::atomic<std::uint64_t>>(0);
    const auto file = std::make_shared<std::string>("file bytes");
    struct Case {
        std::string_view name;
        uploader::FileRewinder rewind;
        std::string error;
    };
    const Case cases[] = {
        {"no rewind", {}, "the upload cannot be read again from its start"},
        {"the file cannot seek", []() -> core::Result<void> { return core::fail("seek failed"); }, "seek failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        progress->store(0);
        MultipartBody body("HEAD", "TAIL", progress, string_reader(file), file->size(), c.rewind);
        std::string buf(6, '\0');
        EXPECT_EQ(body.read(buf).value_or(0), 4u);
        const auto rewound = body.rewind();
        ASSERT_FALSE(rewound);
        EXPECT_EQ(rewound.error(), c.error);
        EXPECT_EQ(progress->load(), 4u);
        EXPECT_EQ(drain(body, 6), "file bytesTAIL");
    }
}

// The declared body length of a file whose size is near the top of the range stays at
// the largest value rather than wrapping to a small one.
TEST(UploadBody, DeclaredTotalStaysAtTheLargestValue)
{
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        std::string_view name;
        std::uint64_t a, b, sum;
    };
    const Case cases[] = {
        {"small", 300, 1000, 1300},
        {"exactly the largest", max - 200, 200, max},
        {"one past", max - 200, 201, max},
        {"far past", max - 5, max - 5, max},
        {"the largest and a little", max, 1, max},
        {"nothing added to the largest", max, 0, max},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(uploader::saturating_add(c.a, c.b), c.sum);
        EXPECT_EQ(uploader::saturating_add(c.b, c.a), c.sum);
    }
}

TEST(UploadBody, FileErrorsAreReturnedAndNotCounted)
{
    auto progress = std::make_shared<std::atomic<std::uint64_t>>(0);
    int calls = 0;
    MultipartBody failing("H", "T", progress,
                          [&calls](std::span<char>) -> core::Result<std::size_t> {
                              ++calls;
                              return core::fail("disk gone");
                          },
                          10);
    std::string buf(16, '\0');
    EXPECT_EQ(failing.read(buf).value_or(0), 1u);
    const auto r = failing.read(buf);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error(), "disk gone");
    EXPECT_EQ(failing.stage(), MultipartBody::Stage::File);
    EXPECT_EQ(progress->load(), 1u);

    // A file that shrank after its size was declared must not end the body early.
    MultipartBody shrunk("", "", progress, string_reader(std::make_shared<std::string>("abc")), 5);
    EXPECT_EQ(shrunk.read(buf).value_or(0), 3u);
    EXPECT_FALSE(shrunk.read(buf).has_value());
}

TEST(UploadBody, ResultDefaults)
{
    struct Case {
        std::string_view name;
        std::string_view reply;
        std::optional<server::UploadResult> expected; // nothing: the reply names no link
    };
    const Case cases[] = {
        {"full", R"({"short_code":"abc12","short_url":"https://s/x","original_name":"r.pdf","file_size":7,"expires_at":"2027-01-01","message":"ok"})",
         server::UploadResult{"abc12", "https://s/x", "r.pdf", 7, "2027-01-01", "ok"}},
        {"only code", R"({"short_code":"abc12"})",
         server::UploadResult{"abc12", "https://b/abc12", "a_b.pdf", 42, "", "공유 링크 생성 완료"}},
        {"only link", R"({"short_url":"http://s/y"})",
         server::UploadResult{"", "http://s/y", "a_b.pdf", 42, "", "공유 링크 생성 완료"}},
        {"link in capitals", R"({"short_url":"HTTPS://S/Y"})",
         server::UploadResult{"", "HTTPS://S/Y", "a_b.pdf", 42, "", "공유 링크 생성 완료"}},
        {"empty link beside a code", R"({"short_code":"c","short_url":""})",
         server::UploadResult{"c", "https://b/c", "a_b.pdf", 42, "", "공유 링크 생성 완료"}},
        {"link of another scheme beside a code", R"j({"short_code":"c","short_url":"javascript:alert(1)"})j",
         server::UploadResult{"c", "https://b/c", "a_b.pdf", 42, "", "공유 링크 생성 완료"}},
        {"negative size", R"({"short_code":"k","file_size":-1})",
         server::UploadResult{"k", "https://b/k", "a_b.pdf", 42, "", "공유 링크 생성 완료"}},
        {"fraction size", R"({"short_code":"k","file_size":1.5})",
         server::UploadResult{"k", "https://b/k", "a_b.pdf", 42, "", "공유 링크 생성 완료"}},
        {"exponent size", R"({"short_code":"k","file_size":1e3})",
         server::UploadResult{"k", "https://b/k", "a_b.pdf", 42, "", "공유 링크 생성 완료"}},
        {"string size", R"({"short_code":"k","file_size":"9"})",
         server::UploadResult{"k", "https://b/k", "a_b.pdf", 42, "", "공유 링크 생성 완료"}},
        {"max size", R"({"short_code":"k","file_size":18446744073709551615})",
         server::UploadResult{"k", "https://b/k", "a_b.pdf", 18446744073709551615ull, "", "공유 링크 생성 완료"}},
        {"wrong types", R"({"short_url":"https://s/z","short_code":1,"message":null,"expires_at":false})",
         server::UploadResult{"", "https://s/z", "a_b.pdf", 42, "", "공유 링크 생성 완료"}},
        {"array", R"([1,2])", std::nullopt},
        {"empty object", R"({})", std::nullopt},
        {"neither code nor link", R"({"ok":true,"message":"received"})", std::nullopt},
        {"empty code and empty link", R"({"short_code":"","short_url":""})", std::nullopt},
        {"empty link alone", R"({"short_url":""})", std::nullopt},
        {"code not text", R"({"short_code":7})", std::nullopt},
        {"link of another scheme alone", R"({"short_url":"file:///c:/x"})", std::nullopt},
        {"a scheme and nothing after it", R"({"short_url":"https://"})", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto reply = server::Json::parse(c.reply);
        const auto result = uploader::make_upload_result(reply, "https://b", "a_b.pdf", 42);
        if (c.expected && result) {
            EXPECT_EQ(*result, *c.expected);
        } else if (c.expected) {
            ADD_FAILURE() << result.error();
        } else if (result) {
            ADD_FAILURE() << "a link was made: " << result->short_url;
        } else {
            EXPECT_EQ(result.error(), uploader::no_link_message);
        }
    }
}

} // namespace
