#pragma once
// The owning handle of the win32 implementation folder. Header of that folder only.

#include "platform/unique_handle.h"

#include <windows.h>

namespace platform::win32 {

// Kernel objects: files, pipes, processes, jobs. Functions that fail give null or
// INVALID_HANDLE_VALUE, depending on the function; both mean none.
struct KernelHandleTraits {
    using Raw = HANDLE;
    static constexpr HANDLE none = nullptr;
    static bool is_none(HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) { return CloseHandle(h) != 0; }
};

using Handle = UniqueHandle<KernelHandleTraits>;

} // namespace platform::win32
