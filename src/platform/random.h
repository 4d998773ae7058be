#pragma once
// The operating system's cryptographic random source.

#include "core/result.h"

#include <cstddef>

namespace platform {

// Fills `size` bytes at `out` from the system's cryptographic random source
// (getrandom on Linux, BCryptGenRandom on Windows). Failure is the OS error text.
[[nodiscard]] core::Result<void> fill_os_random(void* out, std::size_t size);

} // namespace platform
