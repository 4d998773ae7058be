#pragma once
// The upload's multipart/form-data body, streamed as a reader so the file never sits
// whole in memory.

#include "core/result.h"
#include "server/server_state.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace uploader {

// "----VANODuvidBoundary" + `epoch_ns` in lower-case hex (1 for a clock before the epoch).
[[nodiscard]] std::string make_boundary(unsigned __int128 epoch_ns);

// Appends one text field: "--B", the Content-Disposition line, an empty line, the value.
void write_form_field(std::string& buffer, std::string_view boundary, std::string_view name, std::string_view value);

// The file part's Content-Type for an extension that is already lower case.
[[nodiscard]] std::string_view content_type_for_extension(std::string_view extension);

// The content type of a file name: its extension (text after the last ".", none when the
// only "." is the first character) lower-cased by Unicode rules, then looked up.
[[nodiscard]] std::string_view content_type_for_name(std::string_view file_name);

// The name as it goes into the part's filename="...": double quotes, carriage returns
// and line feeds become "_" so the name cannot break out of its header line.
[[nodiscard]] std::string sanitize_part_filename(std::string_view upload_filename);

// The head of the file part: boundary line, Content-Disposition with the file name,
// Content-Type, empty line.
void write_file_part_head(std::string& buffer, std::string_view boundary, std::string_view file_name,
                          std::string_view content_type);

// CRLF "--B--" CRLF.
[[nodiscard]] std::string make_trailer(std::string_view boundary);

// a + b, staying at the largest value instead of wrapping.
[[nodiscard]] std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b);

// Reads up to dest.size() bytes of the file; 0 at its end; failure is the OS error text.
using FileReader = std::function<core::Result<std::size_t>(std::span<char> dest)>;

// Moves the file's reading position back to its first byte; failure is the OS error text.
using FileRewinder = std::function<core::Result<void>()>;

// Header bytes, then the file, then the trailer; every read adds its count to `progress`.
class MultipartBody {
public:
    enum class Stage : std::uint8_t { Header = 0, File = 1, Trailer = 2, Done = 3 };

    // `file_size` is the size declared in Content-Length: the file part yields exactly
    // that many bytes, and a file that shrank meanwhile is an error rather than a body
    // shorter than declared.
    // Without `rewind_file` the body cannot start again.
    MultipartBody(std::string header, std::string trailer, server::Counter progress, FileReader file,
                  std::uint64_t file_size, FileRewinder rewind_file = {});

    // Fills `dest` from the current stage; 0 once the body has ended.
    [[nodiscard]] core::Result<std::size_t> read(std::span<char> dest);

    // Starts the body again from its first byte, for a request sent anew; what this body
    // added to `progress` is taken off again. Fails, changing nothing, when the file
    // cannot be rewound.
    [[nodiscard]] core::Result<void> rewind();

    [[nodiscard]] Stage stage() const { return m_stage; }

private:
    std::size_t copy_from(const std::string& buf, std::size_t& pos, std::span<char> dest);
    std::size_t counted(std::size_t n);

    std::string m_header;
    std::size_t m_header_pos = 0;
    std::string m_trailer;
    std::size_t m_trailer_pos = 0;
    server::Counter m_progress;
    FileReader m_file;
    FileRewinder m_rewind_file;
    std::uint64_t m_file_size;
    std::uint64_t m_file_left;
    std::uint64_t m_counted = 0;
    Stage m_stage = Stage::Header;
};

} // namespace uploader
