#pragma once
// One owning type for the handles of the OS: each implementation folder names its own
// (posix/fd.h, win32/handle.h) with the OS's closer.

#include "core/result.h"
#include "platform/os_error.h"

#include <utility>

namespace platform {

// Owns one handle, or none; move-only; the destructor closes it. `Traits` gives the
// handle's type `Raw`, `none`, `is_none(raw)` for every value that means no handle, and
// `close(raw)`, false on failure with the OS's error left to read.
template <class Traits>
class UniqueHandle {
public:
    using Raw = typename Traits::Raw;

    UniqueHandle() = default;
    explicit UniqueHandle(Raw h) : m_h(Traits::is_none(h) ? Traits::none : h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    [[nodiscard]] Raw get() const { return m_h; }
    [[nodiscard]] bool valid() const { return !Traits::is_none(m_h); }
    explicit operator bool() const { return valid(); }
    [[nodiscard]] Raw release() { return std::exchange(m_h, Traits::none); }

    // Closes the handle held, if any, and takes `h` instead.
    void reset(Raw h = Traits::none)
    {
        (void)close();
        m_h = Traits::is_none(h) ? Traits::none : h;
    }

    // Closes now, so that a failing close is reported; with none held it does nothing.
    core::Result<void> close()
    {
        const Raw h = release();
        if (!Traits::is_none(h) && !Traits::close(h))
            return core::fail(last_os_error_text());
        return core::ok();
    }

private:
    Raw m_h = Traits::none;
};

} // namespace platform
