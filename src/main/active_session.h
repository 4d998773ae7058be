#pragma once
// The announcement of a running instance in active_session.json: its record, the exact
// bytes it is written as, and the strict reader.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace app {

// Milliseconds since the UNIX epoch. 128 bits wide because a reader accepts any value a
// 128-bit writer could have put into the file.
using EpochMs = unsigned __int128;

struct ActiveSession {
    std::uint16_t port = 0;
    std::string token;
    EpochMs created_epoch_ms = 0;

    bool operator==(const ActiveSession&) const = default;
};

// Plain decimal digits of `value` ("0" for zero).
[[nodiscard]] std::string u128_to_decimal(EpochMs value);

// Compact JSON without white space or final line feed:
// {"port":P,"token":"T","created_epoch_ms":C}, the token with standard JSON escaping.
[[nodiscard]] std::string serialize_active_session(const ActiveSession& session);

// Reads one JSON value: an object holding each of the three keys exactly once (other
// keys are skipped whatever their value), or an array of exactly three elements in field
// order. Integers are digits only, without sign, fraction, exponent or leading zero;
// `port` fits 16 bits and `created_epoch_ms` 128 bits. Any other shape, ill-formed UTF-8,
// a byte-order mark or anything but JSON white space after the value gives nothing.
[[nodiscard]] std::optional<ActiveSession> parse_active_session(std::string_view text);

} // namespace app
