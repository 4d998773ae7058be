#pragma once
// FIFOs and sockets, for tests of code that must leave them alone: opening a FIFO for
// reading waits for a writer, forever when none comes; a socket cannot be opened at all.

#include "platform/file.h"
#include "platform/process.h"
#include "platform/unicode.h"

#include <filesystem>
#include <thread>
#include <vector>

namespace test_support {

// Makes a FIFO at `path` with the mkfifo program; false where it cannot be made.
inline bool try_fifo(const std::filesystem::path& path)
{
    platform::ProcessSpec spec;
    spec.program = "mkfifo";
    spec.args = {platform::path_to_utf8(path)};
    const auto ran = platform::run(spec);
    return ran && ran->exit_code == 0;
}

// Makes a Unix socket at `path` (Python is what makes one portably here); false where it
// cannot be made.
inline bool try_socket(const std::filesystem::path& path)
{
    platform::ProcessSpec spec;
    spec.program = "python3";
    spec.args = {"-c", "import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])",
                 platform::path_to_utf8(path)};
    const auto ran = platform::run(spec);
    return ran && ran->exit_code == 0;
}

// Lets a reader blocked in opening one of `fifos` go on: a writer opens each (waiting for
// its reader) and closes it at once, so the reader sees an empty stream. For the failure
// path of a test that found an open blocked, so that the test still ends.
inline void release_fifo_readers(const std::vector<std::filesystem::path>& fifos)
{
    for (const auto& fifo : fifos)
        std::thread([fifo] { (void)platform::File::create_write(fifo); }).detach();
}

} // namespace test_support
