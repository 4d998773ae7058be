#pragma once
// Modes of what the program creates: the configuration (API key), the session file
// (local token) and the archives of the user's files are the user's alone. Header of the
// posix implementation folder only.

#include <sys/stat.h>

namespace platform::posix {

inline constexpr mode_t private_file_mode = S_IRUSR | S_IWUSR;
inline constexpr mode_t private_dir_mode = S_IRWXU;

} // namespace platform::posix
