#pragma once
// The archive's output: a file that refuses to grow past a cap.

#include "platform/file.h"
#include "zipper/zip_writer.h"

#include <cstdint>
#include <string_view>

namespace zipper {

// 500 MiB: the largest archive the service takes.
inline constexpr std::uint64_t MAX_ZIP_BYTES = 524'288'000;

// The text of the error for a write that would pass the cap.
inline constexpr std::string_view zip_limit_marker = "ZIP_LIMIT_EXCEEDED";

// Writes straight through to the file, without buffering. A write that would end past
// `limit` writes nothing and fails with kind file_too_large and the marker text; a write
// ending exactly at the limit passes. Seek and position are the file's own.
class LimitedFile final : public ZipOutput {
public:
    LimitedFile(platform::File out_file, std::uint64_t limit) : m_out_file(std::move(out_file)), m_limit(limit) {}

    [[nodiscard]] ZipResult<std::size_t> write(const char* data, std::size_t size) override;
    [[nodiscard]] ZipResult<void> flush() override { return {}; }
    [[nodiscard]] ZipResult<std::uint64_t> seek(std::uint64_t offset) override;
    [[nodiscard]] ZipResult<std::uint64_t> position() override;

    void close() { m_out_file.close(); }

private:
    platform::File m_out_file;
    std::uint64_t m_limit;
};

} // namespace zipper
