#pragma once
// Failures are values: the error side carries the message meant for the user.

#include <expected>
#include <string>
#include <utility>

namespace core {

template <class T>
using Result = std::expected<T, std::string>;

// Result<void> success value: `return core::ok();`
inline Result<void> ok() { return {}; }

inline std::unexpected<std::string> fail(std::string message)
{
    return std::unexpected<std::string>(std::move(message));
}

} // namespace core

// Propagates the failure of an expression of type Result<T>; yields the value otherwise.
#define VANO_TRY(expr)                                             \
    ({                                                             \
        auto&& vano_try_result_ = (expr);                          \
        if (!vano_try_result_)                                     \
            return std::unexpected(std::move(vano_try_result_).error()); \
        std::move(vano_try_result_).value();                       \
    })
