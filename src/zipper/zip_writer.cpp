#include "zipper/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace zipper {

namespace {

constexpr std::uint32_t local_header_sig = 0x04034b50;
constexpr std::uint32_t central_header_sig = 0x02014b50;
constexpr std::uint32_t end_record_sig = 0x06054b50;
constexpr std::uint16_t version_needed = 20;    // 2.0: DEFLATE
constexpr std::uint16_t version_made_by = 0x032E; // Unix, 4.6
constexpr std::uint16_t method_deflate = 8;
constexpr std::uint16_t flag_utf8_name = 0x0800;
constexpr std::uint32_t unix_regular_file = 0100000;
constexpr std::size_t local_header_size = 30;
constexpr std::size_t central_header_size = 46;
constexpr std::size_t crc_field_offset = 14; // CRC-32, then both sizes, in the local header
constexpr std::uint64_t max_u32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t max_u16 = std::numeric_limits<std::uint16_t>::max();
constexpr std::size_t out_buf_size = 65536;
// Central headers are sent in pieces of about this size.
constexpr std::size_t central_piece = 65536;
// zlib takes a uInt count.
constexpr std::size_t max_deflate_in = std::size_t{1} << 30;

void put16(std::string& out, std::uint64_t v)
{
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void put32(std::string& out, std::uint64_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, (v >> 16) & 0xFFFF);
}

bool has_non_ascii(std::string_view name)
{
    return std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

} // namespace

enum class ZipWriter::Sizes { later, known };

// The fields that local and central headers share, from "version needed" to the extra
// field's length (APPNOTE 4.3.7 and 4.3.12).
void ZipWriter::put_entry_fields(std::string& out, const Entry& e, Sizes sizes)
{
    const bool known = sizes == Sizes::known;
    put16(out, version_needed);
    put16(out, e.flags);
    put16(out, method_deflate);
    put16(out, e.dos_time);
    put16(out, e.dos_date);
    put32(out, known ? e.crc : 0);
    put32(out, known ? e.compressed : 0);
    put32(out, known ? e.uncompressed : 0);
    put16(out, e.name.size());
    put16(out, 0); // no extra field
}

namespace {

ZipError writer_error(std::string text) { return {ZipError::Kind::writer, std::move(text)}; }

} // namespace

ZipWriter::ZipWriter(ZipOutput& out) : m_out(out), m_zs(std::make_unique<z_stream_s>()) {}

ZipWriter::~ZipWriter()
{
    if (m_zs_ready)
        deflateEnd(m_zs.get());
}

ZipResult<void> ZipWriter::fail(ZipError err)
{
    m_failed = true;
    return std::unexpected(std::move(err));
}

ZipResult<void> ZipWriter::guard()
{
    if (m_failed)
        return std::unexpected(writer_error("the archive is unusable after an earlier failure"));
    if (m_finished)
        return std::unexpected(writer_error("the archive is already finished"));
    return {};
}

ZipResult<void> ZipWriter::emit(const char* data, std::size_t size)
{
    while (size > 0) {
        auto put = m_out.write(data, size);
        if (!put)
            return std::unexpected(std::move(put.error()));
        if (*put == 0)
            return std::unexpected(ZipError{ZipError::Kind::io, std::string(short_write_text)});
        const std::size_t n = std::min(*put, size);
        data += n;
        size -= n;
        m_offset += n;
    }
    return {};
}

ZipResult<void> ZipWriter::deflate_step(int flush)
{
    // Runs zlib until it has taken all input (and, on Z_FINISH, produced all output),
    // passing each full output buffer on.
    for (;;) {
        m_zs->next_out = reinterpret_cast<Bytef*>(m_out_buf.data());
        m_zs->avail_out = static_cast<uInt>(m_out_buf.size());
        const int rc = deflate(m_zs.get(), flush);
        if (rc == Z_STREAM_ERROR)
            return std::unexpected(writer_error("DEFLATE stream error"));
        const std::size_t produced = m_out_buf.size() - m_zs->avail_out;
        m_entries.back().compressed += produced;
        if (auto put = emit(m_out_buf.data(), produced); !put)
            return put;
        if (flush == Z_FINISH ? rc == Z_STREAM_END : (m_zs->avail_in == 0 && m_zs->avail_out != 0))
            return {};
        if (rc == Z_BUF_ERROR && produced == 0)
            return std::unexpected(writer_error("DEFLATE made no progress"));
    }
}

ZipResult<void> ZipWriter::finish_entry()
{
    if (!m_entry_open)
        return {};
    m_entry_open = false;
    if (auto done = deflate_step(Z_FINISH); !done)
        return done;
    Entry& e = m_entries.back();
    if (e.compressed > max_u32)
        return std::unexpected(writer_error("compressed entry is larger than 4294967295 bytes"));

    std::string patch;
    put32(patch, e.crc);
    put32(patch, e.compressed);
    put32(patch, e.uncompressed);
    const std::uint64_t end = m_offset;
    if (auto at = m_out.seek(e.header_offset + crc_field_offset); !at)
        return std::unexpected(std::move(at.error()));
    m_offset = e.header_offset + crc_field_offset;
    if (auto put = emit(patch.data(), patch.size()); !put)
        return put;
    if (auto at = m_out.seek(end); !at)
        return std::unexpected(std::move(at.error()));
    m_offset = end;
    return {};
}

ZipResult<void> ZipWriter::start_file(std::string_view name, const EntryOptions& options)
{
    if (auto ok = guard(); !ok)
        return ok;
    if (auto done = finish_entry(); !done)
        return fail(std::move(done.error()));
    if (name.size() > max_u16)
        return fail(writer_error("entry name is longer than 65535 bytes"));
    if (m_entries.size() >= max_u16)
        return fail(writer_error("an archive without ZIP64 holds at most 65535 entries"));
    if (m_offset > max_u32)
        return fail(writer_error("entry would start past 4294967295 bytes"));

    if (!m_zs_ready || options.level != m_level) {
        if (m_zs_ready)
            deflateEnd(m_zs.get());
        *m_zs = z_stream_s{};
        m_zs_ready = false;
        // Negative window bits: raw DEFLATE, as ZIP stores it (no zlib header or trailer).
        if (deflateInit2(m_zs.get(), options.level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return fail(writer_error("cannot start the DEFLATE compressor"));
        m_zs_ready = true;
        m_level = options.level;
        m_out_buf.resize(out_buf_size);
    } else if (deflateReset(m_zs.get()) != Z_OK) {
        return fail(writer_error("cannot restart the DEFLATE compressor"));
    }

    Entry e;
    e.name = std::string(name);
    e.flags = has_non_ascii(name) ? flag_utf8_name : 0;
    e.dos_time = options.dos_time;
    e.dos_date = options.dos_date;
    e.external_attrs = (unix_regular_file | (options.unix_mode & 07777)) << 16;
    e.crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    e.header_offset = m_offset;

    std::string header;
    header.reserve(local_header_size + name.size());
    put32(header, local_header_sig);
    put_entry_fields(header, e, Sizes::later); // CRC-32 and sizes: patched by finish_entry
    header.append(name);

    m_entries.push_back(std::move(e));
    if (auto put = emit(header.data(), header.size()); !put)
        return fail(std::move(put.error()));
    m_entry_open = true;
    return {};
}

ZipResult<void> ZipWriter::write_all(const char* data, std::size_t size)
{
    if (auto ok = guard(); !ok)
        return ok;
    if (!m_entry_open)
        return std::unexpected(writer_error("no entry is open"));
    Entry& e = m_entries.back();
    if (size > max_u32 - e.uncompressed) {
        m_failed = true;
        return std::unexpected(
            ZipError{ZipError::Kind::io, "entry is larger than 4294967295 bytes and large-file support is off"});
    }
    while (size > 0) {
        const std::size_t n = std::min(size, max_deflate_in);
        e.crc = static_cast<std::uint32_t>(crc32(e.crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(n)));
        e.uncompressed += n;
        m_zs->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        m_zs->avail_in = static_cast<uInt>(n);
        if (auto done = deflate_step(Z_NO_FLUSH); !done) {
            m_failed = true;
            return done;
        }
        data += n;
        size -= n;
    }
    return {};
}

ZipResult<void> ZipWriter::finish()
{
    if (auto ok = guard(); !ok)
        return ok;
    if (auto done = finish_entry(); !done)
        return fail(std::move(done.error()));

    const std::uint64_t central_start = m_offset;
    if (central_start > max_u32)
        return fail(writer_error("central directory would start past 4294967295 bytes"));
    std::string piece;
    piece.reserve(central_piece + central_header_size + max_u16);
    for (const Entry& e : m_entries) {
        put32(piece, central_header_sig);
        put16(piece, version_made_by);
        put_entry_fields(piece, e, Sizes::known);
        put16(piece, 0); // comment
        put16(piece, 0); // disk number
        put16(piece, 0); // internal attributes
        put32(piece, e.external_attrs);
        put32(piece, e.header_offset);
        piece.append(e.name);
        if (piece.size() >= central_piece) {
            if (auto put = emit(piece.data(), piece.size()); !put)
                return fail(std::move(put.error()));
            piece.clear();
        }
    }
    const std::uint64_t central_size = m_offset + piece.size() - central_start;
    if (central_size > max_u32)
        return fail(writer_error("central directory is larger than 4294967295 bytes"));
    put32(piece, end_record_sig);
    put16(piece, 0); // this disk
    put16(piece, 0); // disk with the central directory
    put16(piece, m_entries.size());
    put16(piece, m_entries.size());
    put32(piece, central_size);
    put32(piece, central_start);
    put16(piece, 0); // comment length
    if (auto put = emit(piece.data(), piece.size()); !put)
        return fail(std::move(put.error()));
    if (auto flushed = m_out.flush(); !flushed)
        return fail(std::move(flushed.error()));
    m_finished = true;
    return {};
}

} // namespace zipper
