#pragma once
// The owning file descriptor of the posix implementation folder. Header of that folder only.

#include "platform/unique_handle.h"

#include <unistd.h>

namespace platform::posix {

struct FdTraits {
    using Raw = int;
    static constexpr int none = -1;
    static bool is_none(int fd) { return fd < 0; }
    static bool close(int fd) { return ::close(fd) == 0; }
};

using Fd = UniqueHandle<FdTraits>;

} // namespace platform::posix
