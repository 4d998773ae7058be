#pragma once
// How the program name of a child process becomes the file that CreateProcessW starts.
// Header of the win32 implementation folder only.

#include "core/result.h"

#include <string>
#include <string_view>

namespace platform::win32 {

// The file to pass as CreateProcessW's application name for `program` (UTF-8):
// - a fully qualified path ("C:\...", "\\server\share\...") is taken as it is;
// - "reg", "cmd" and "powershell", the system programs that the shell code names, become
//   reg.exe, cmd.exe and WindowsPowerShell\v1.0\powershell.exe in the system folder
//   (GetSystemDirectoryW).
// Any other name, a relative path included, is refused with the OS text of
// ERROR_FILE_NOT_FOUND: CreateProcessW's own search would look in the program's folder and
// in the current folder before the system folder, and the current folder is wherever
// Explorer started us, a shared download folder for instance. Fails with the OS error text
// when the system folder cannot be read.
[[nodiscard]] core::Result<std::wstring> program_path(std::string_view program);

} // namespace platform::win32
