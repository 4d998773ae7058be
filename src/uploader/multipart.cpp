#include "uploader/multipart.h"

#include "core/utf8.h"
#include "platform/unicode.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace uploader {

namespace {

constexpr std::string_view crlf = "\r\n";

struct ContentType {
    std::string_view ext;
    std::string_view type;
};

constexpr ContentType content_types[] = {
    {"mp4", "video/mp4"},
    {"m4v", "video/mp4"},
    {"webm", "video/webm"},
    {"mov", "video/quicktime"},
    {"avi", "video/x-msvideo"},
    {"mkv", "video/x-matroska"},
    {"mp3", "audio/mpeg"},
    {"m4a", "audio/mp4"},
    {"wav", "audio/wav"},
    {"ogg", "audio/ogg"},
    {"opus", "audio/ogg"},
    {"flac", "audio/flac"},
    {"aac", "audio/aac"},
    {"wma", "audio/x-ms-wma"},
    {"pdf", "application/pdf"},
    {"zip", "application/zip"},
    {"rar", "application/vnd.rar"},
    {"txt", "text/plain"},
    {"csv", "text/csv"},
    {"doc", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
};

} // namespace

std::string make_boundary(unsigned __int128 epoch_ns)
{
    if (epoch_ns == 0)
        epoch_ns = 1;
    std::string digits;
    while (epoch_ns != 0) {
        digits.push_back("0123456789abcdef"[static_cast<unsigned>(epoch_ns & 0xF)]);
        epoch_ns >>= 4;
    }
    std::reverse(digits.begin(), digits.end());
    return "----VANODuvidBoundary" + digits;
}

void write_form_field(std::string& buffer, std::string_view boundary, std::string_view name, std::string_view value)
{
    buffer.append("--").append(boundary).append(crlf);
    buffer.append("Content-Disposition: form-data; name=\"").append(name).append("\"").append(crlf).append(crlf);
    buffer.append(value).append(crlf);
}

std::string_view content_type_for_extension(std::string_view extension)
{
    for (const auto& row : content_types)
        if (row.ext == extension)
            return row.type;
    return "application/octet-stream";
}

std::string_view content_type_for_name(std::string_view file_name)
{
    const auto dot = file_name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return content_type_for_extension({});
    const auto ext = platform::to_lower_full(core::lossy_utf8(file_name.substr(dot + 1)));
    return content_type_for_extension(ext);
}

std::string sanitize_part_filename(std::string_view upload_filename)
{
    std::string out(upload_filename);
    for (char& c : out)
        if (c == '"' || c == '\r' || c == '\n')
            c = '_';
    return out;
}

void write_file_part_head(std::string& buffer, std::string_view boundary, std::string_view file_name,
                          std::string_view content_type)
{
    buffer.append("--").append(boundary).append(crlf);
    buffer.append("Content-Disposition: form-data; name=\"file\"; filename=\"").append(file_name).append("\"").append(crlf);
    buffer.append("Content-Type: ").append(content_type).append(crlf).append(crlf);
}

std::string make_trailer(std::string_view boundary)
{
    std::string out;
    out.append(crlf).append("--").append(boundary).append("--").append(crlf);
    return out;
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b)
{
    const auto max = std::numeric_limits<std::uint64_t>::max();
    return a > max - b ? max : a + b;
}

MultipartBody::MultipartBody(std::string header, std::string trailer, server::Counter progress, FileReader file,
                             std::uint64_t file_size, FileRewinder rewind_file)
    : m_header(std::move(header))
    , m_trailer(std::move(trailer))
    , m_progress(std::move(progress))
    , m_file(std::move(file))
    , m_rewind_file(std::move(rewind_file))
    , m_file_size(file_size)
    , m_file_left(file_size)
{
}

std::size_t MultipartBody::counted(std::size_t n)
{
    m_progress->fetch_add(n);
    m_counted += n;
    return n;
}

core::Result<void> MultipartBody::rewind()
{
    if (!m_rewind_file)
        return core::fail("the upload cannot be read again from its start");
    VANO_TRY(m_rewind_file());
    m_progress->fetch_sub(m_counted);
    m_counted = 0;
    m_header_pos = 0;
    m_trailer_pos = 0;
    m_file_left = m_file_size;
    m_stage = Stage::Header;
    return core::ok();
}

std::size_t MultipartBody::copy_from(const std::string& buf, std::size_t& pos, std::span<char> dest)
{
    const auto n = std::min(dest.size(), buf.size() - pos);
    std::memcpy(dest.data(), buf.data() + pos, n);
    pos += n;
    return n;
}

core::Result<std::size_t> MultipartBody::read(std::span<char> dest)
{
    if (dest.empty())
        return 0;
    if (m_stage == Stage::Header) {
        if (const auto n = copy_from(m_header, m_header_pos, dest); n > 0)
            return counted(n);
        m_stage = Stage::File;
    }
    if (m_stage == Stage::File) {
        if (m_file_left > 0) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(dest.size(), m_file_left));
            auto got = m_file(dest.first(want));
            if (!got)
                return got;
            if (*got == 0)
                return core::fail("file became shorter while it was being uploaded");
            m_file_left -= *got;
            return counted(*got);
        }
        m_stage = Stage::Trailer;
    }
    if (m_stage == Stage::Trailer) {
        if (const auto n = copy_from(m_trailer, m_trailer_pos, dest); n > 0)
            return counted(n);
        m_stage = Stage::Done;
    }
    return 0;
}

} // namespace uploader
