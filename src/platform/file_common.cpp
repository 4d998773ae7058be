#include "platform/file.h"

#include <utility>

namespace platform {

File::~File() { (void)close(); }

File::File(File&& other) noexcept : m_handle(std::exchange(other.m_handle, invalid_handle)) {}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        (void)close();
        m_handle = std::exchange(other.m_handle, invalid_handle);
    }
    return *this;
}

} // namespace platform
