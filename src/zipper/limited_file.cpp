#include "zipper/limited_file.h"

#include <limits>

namespace zipper {

namespace {

ZipError io_error(std::string text) { return {ZipError::Kind::io, std::move(text)}; }

} // namespace

ZipResult<std::size_t> LimitedFile::write(const char* data, std::size_t size)
{
    auto offset = m_out_file.position();
    if (!offset)
        return std::unexpected(io_error(std::move(offset.error())));
    const std::uint64_t room = std::numeric_limits<std::uint64_t>::max() - *offset;
    const std::uint64_t end = size > room ? std::numeric_limits<std::uint64_t>::max() : *offset + size;
    if (end > m_limit)
        return std::unexpected(ZipError{ZipError::Kind::file_too_large, std::string(zip_limit_marker)});
    auto put = m_out_file.write(data, size);
    if (!put)
        return std::unexpected(io_error(std::move(put.error())));
    return *put;
}

ZipResult<std::uint64_t> LimitedFile::seek(std::uint64_t offset)
{
    auto at = m_out_file.seek(offset);
    if (!at)
        return std::unexpected(io_error(std::move(at.error())));
    return *at;
}

ZipResult<std::uint64_t> LimitedFile::position()
{
    auto at = m_out_file.position();
    if (!at)
        return std::unexpected(io_error(std::move(at.error())));
    return *at;
}

} // namespace zipper
