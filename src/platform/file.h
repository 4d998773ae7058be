#pragma once
// An open file read or written piece by piece, for data too big to hold in memory.

#include "core/result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace platform {

// Who else may open a file that create_write made, while it is open (Windows only: POSIX
// has no such lock).
enum class WriteSharing {
    everyone,     // others may read, write and delete it meanwhile
    readers_only, // others may only read it; opening it to write, delete or rename fails
};

// Owns one OS file handle; move-only; the destructor closes it. Failures are the OS
// error text.
class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing file for reading. Other processes may read, write and delete it
    // meanwhile.
    [[nodiscard]] static core::Result<File> open_read(const std::filesystem::path& path);

    // Creates `path` for writing, truncating an existing file; on POSIX the file is the
    // user's alone (0600). Other processes may open it meanwhile as `sharing` says.
    [[nodiscard]] static core::Result<File> create_write(const std::filesystem::path& path,
                                                         WriteSharing sharing = WriteSharing::everyone);

    // One read of at most `size` bytes; 0 at the end of the file. Not retried when the
    // OS reports an interruption.
    [[nodiscard]] core::Result<std::size_t> read(char* buffer, std::size_t size);

    // One write; the count may be less than `size`. A write interrupted before it wrote
    // anything is repeated.
    [[nodiscard]] core::Result<std::size_t> write(const char* data, std::size_t size);

    // Moves to `offset` bytes from the start; gives the new offset.
    [[nodiscard]] core::Result<std::uint64_t> seek(std::uint64_t offset);

    // The current offset from the start.
    [[nodiscard]] core::Result<std::uint64_t> position();

    // The file's size, read from the open handle.
    [[nodiscard]] core::Result<std::uint64_t> size() const;

    // Flushes what was written to the disk before it returns.
    [[nodiscard]] core::Result<void> sync();

    bool is_open() const { return m_handle != invalid_handle; }

    // Closes the handle now, failing when the OS reports a failed close (an error of a
    // write that the OS had taken in); a closed File does nothing more.
    core::Result<void> close();

private:
    static constexpr std::intptr_t invalid_handle = -1;
    explicit File(std::intptr_t handle) : m_handle(handle) {}
    std::intptr_t m_handle = invalid_handle; // fd on POSIX, HANDLE on Windows
};

} // namespace platform
