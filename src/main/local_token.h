#pragma once
// The local token: the one secret of a running instance, sent by the page in its query
// and in the X-Local-Token header.

#include <cstdint>
#include <span>
#include <string>

namespace app {

inline constexpr std::uint64_t TOKEN_COUNTER_STEP = 0x9E3779B97F4A7C15;

struct HashKeys {
    std::uint64_t k0 = 0;
    std::uint64_t k1 = 0;
};

// SipHash-1-3 (one compression round per 8-byte block, three finalisation rounds) of
// `data` under the keys.
[[nodiscard]] std::uint64_t siphash13(HashKeys keys, std::span<const std::uint8_t> data);

// The next key pair of this thread's source: drawn from the system's random source the
// first time, then k0 goes up by one (wrapping) after every taking.
[[nodiscard]] HashKeys next_thread_keys();

// 16 lower-case hex digits of SipHash-1-3 over the 28 bytes: `epoch_ms` as unsigned
// 128-bit, `pid` as unsigned 32-bit and `counter` as unsigned 64-bit, all little-endian.
[[nodiscard]] std::string token_half(HashKeys keys, std::uint64_t epoch_ms, std::uint32_t pid, std::uint64_t counter);

// 32 lower-case hex characters: two halves with fresh keys and the clock read anew, the
// counters 0 and TOKEN_COUNTER_STEP. Cannot fail.
[[nodiscard]] std::string generate_local_token();

} // namespace app
