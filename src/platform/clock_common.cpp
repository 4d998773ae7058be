#include "platform/clock.h"

namespace platform {
namespace {

template <class Unit>
std::uint64_t since_epoch()
{
    const auto d = std::chrono::system_clock::now().time_since_epoch();
    if (d.count() < 0)
        return 0;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<Unit>(d).count());
}

} // namespace

std::uint64_t unix_epoch_ms() { return since_epoch<std::chrono::milliseconds>(); }

std::uint64_t unix_epoch_ns() { return since_epoch<std::chrono::nanoseconds>(); }

} // namespace platform
