#pragma once
// The extended-length spelling of Windows paths, kept portable so that both builds test it.

#include <string>
#include <string_view>

namespace platform {

// The extended-length form of the Windows path `path`: "\\?\C:\..." for a drive path,
// "\\?\UNC\server\share\..." for a share. Such a path reaches the file system as written:
// a name keeps a trailing dot or blank, "NUL.txt", "CON" or "aux.log" is a file and not a
// device, and the length is not limited to 260 characters.
// Because the file system then resolves nothing itself, this does what Win32 would do
// with a plain path: "/" becomes "\", repeated separators become one, "." and ".." are
// resolved (".." never climbs above the drive root or the share), and a relative path
// ("a\b", "\a" on the current drive, "C:a") is taken against `current_dir`, an absolute
// path. "C:a" on a drive other than that of `current_dir` starts at that drive's root.
// As in Win32, any character but a separator before a colon is a drive ("1:\x" too).
// A trailing separator is kept. Returned as they are: an empty path, a path that already
// has the "\\?\" or "\??\" prefix, and device paths such as "\\.\pipe\name" or "\\.\NUL"
// (with forward slashes turned into backslashes).
[[nodiscard]] std::wstring extended_length_path(std::wstring_view path, std::wstring_view current_dir);

} // namespace platform
