#pragma once
// A ZIP archive writer (PKWARE APPNOTE 6.3) over zlib: DEFLATE entries written to a
// seekable output, each local header completed by seeking back once the entry's data is
// in. No ZIP64, no data descriptors, no extra fields, no comment.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct z_stream_s;

namespace zipper {

struct ZipError {
    enum class Kind {
        io,             // the output or the input failed; `text` is its description
        file_too_large, // the output refused to grow past its cap
        writer,         // the archive cannot hold what was asked (names, counts, sizes)
    };
    Kind kind = Kind::io;
    std::string text;
};

template <class T>
using ZipResult = std::expected<T, ZipError>;

// Where the archive goes. write() may take fewer bytes than offered; seek() is absolute.
class ZipOutput {
public:
    virtual ~ZipOutput() = default;
    [[nodiscard]] virtual ZipResult<std::size_t> write(const char* data, std::size_t size) = 0;
    [[nodiscard]] virtual ZipResult<void> flush() = 0;
    [[nodiscard]] virtual ZipResult<std::uint64_t> seek(std::uint64_t offset) = 0;
    [[nodiscard]] virtual ZipResult<std::uint64_t> position() = 0;
};

struct EntryOptions {
    int level = 6; // zlib compression level for DEFLATE (method 8)
    std::uint16_t dos_time = 0x0000;
    std::uint16_t dos_date = 0x0021; // 1980-01-01
    std::uint32_t unix_mode = 0644;  // permission bits; the entry is always a regular file
};

// The text of the error for an output that takes no bytes of a write.
inline constexpr std::string_view short_write_text = "failed to write whole buffer";

class ZipWriter {
public:
    // Writes from the output's current position, which must be 0 (offsets in the
    // archive count from it).
    explicit ZipWriter(ZipOutput& out);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Completes the open entry (its last compressed bytes, then CRC-32 and sizes patched
    // into its local header) and writes the local header of a new entry named `name`
    // (UTF-8, "/" between levels). Flag bit 11 is set when the name has a non-ASCII byte.
    [[nodiscard]] ZipResult<void> start_file(std::string_view name, const EntryOptions& options);

    // Compresses all of `data` into the open entry, passing the compressed bytes on to
    // the output. An entry's data may not pass 4,294,967,295 bytes (an io error).
    [[nodiscard]] ZipResult<void> write_all(const char* data, std::size_t size);

    // Completes the open entry and writes the central directory and the end record.
    [[nodiscard]] ZipResult<void> finish();

private:
    struct Entry {
        std::string name;
        std::uint16_t flags = 0;
        std::uint16_t dos_time = 0;
        std::uint16_t dos_date = 0;
        std::uint32_t external_attrs = 0;
        std::uint32_t crc = 0;
        std::uint64_t compressed = 0;
        std::uint64_t uncompressed = 0;
        std::uint64_t header_offset = 0;
    };

    enum class Sizes;
    static void put_entry_fields(std::string& out, const Entry& e, Sizes sizes);
    ZipResult<void> finish_entry();
    ZipResult<void> deflate_step(int flush);
    ZipResult<void> emit(const char* data, std::size_t size);
    ZipResult<void> guard();
    // Marks the writer unusable and gives `err` back as the failure.
    ZipResult<void> fail(ZipError err);

    ZipOutput& m_out;
    std::unique_ptr<z_stream_s> m_zs;
    bool m_zs_ready = false;
    int m_level = 0;
    bool m_entry_open = false;
    bool m_failed = false;
    bool m_finished = false;
    std::uint64_t m_offset = 0; // end of what has been written
    std::vector<Entry> m_entries;
    std::vector<char> m_out_buf;
};

} // namespace zipper
