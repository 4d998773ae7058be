#include "main/local_token.h"

#include "platform/clock.h"
#include "platform/random.h"

#include <array>
#include <bit>

namespace app {
namespace {

struct SipState {
    std::uint64_t v0, v1, v2, v3;

    void round()
    {
        v0 += v1;
        v1 = std::rotl(v1, 13);
        v1 ^= v0;
        v0 = std::rotl(v0, 32);
        v2 += v3;
        v3 = std::rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = std::rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = std::rotl(v1, 17);
        v1 ^= v2;
        v2 = std::rotl(v2, 32);
    }

    void compress(std::uint64_t m)
    {
        v3 ^= m;
        round();
        v0 ^= m;
    }
};

std::uint64_t load_le64(const std::uint8_t* p)
{
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

void put_le(std::uint8_t* out, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

HashKeys draw_os_keys()
{
    std::array<std::uint64_t, 2> k{};
    if (!platform::fill_os_random(k.data(), sizeof k)) {
        // The system source does not fail in practice; the token must still be made, so
        // fall back to what differs between processes and moments.
        k[0] = platform::unix_epoch_ns() ^ (std::uint64_t{platform::process_id()} << 32);
        k[1] = static_cast<std::uint64_t>(platform::monotonic_now().time_since_epoch().count())
            ^ reinterpret_cast<std::uintptr_t>(&k);
    }
    return {k[0], k[1]};
}

} // namespace

std::uint64_t siphash13(HashKeys keys, std::span<const std::uint8_t> data)
{
    SipState s{keys.k0 ^ 0x736f6d6570736575ULL, keys.k1 ^ 0x646f72616e646f6dULL, keys.k0 ^ 0x6c7967656e657261ULL,
               keys.k1 ^ 0x7465646279746573ULL};
    const std::size_t whole = data.size() / 8 * 8;
    for (std::size_t i = 0; i < whole; i += 8)
        s.compress(load_le64(data.data() + i));
    std::uint64_t last = static_cast<std::uint64_t>(data.size() & 0xff) << 56;
    for (std::size_t i = whole; i < data.size(); ++i)
        last |= static_cast<std::uint64_t>(data[i]) << (8 * (i - whole));
    s.compress(last);
    s.v2 ^= 0xff;
    s.round();
    s.round();
    s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

HashKeys next_thread_keys()
{
    thread_local HashKeys keys = draw_os_keys();
    const HashKeys out = keys;
    ++keys.k0;
    return out;
}

std::string token_half(HashKeys keys, std::uint64_t epoch_ms, std::uint32_t pid, std::uint64_t counter)
{
    std::array<std::uint8_t, 28> input{};
    put_le(input.data(), epoch_ms, 8); // bytes 8..15: the high half of the 128-bit value, 0
    put_le(input.data() + 16, pid, 4);
    put_le(input.data() + 20, counter, 8);
    const std::uint64_t h = siphash13(keys, input);
    static constexpr char digits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 0; i < 16; ++i)
        out[static_cast<std::size_t>(15 - i)] = digits[(h >> (4 * i)) & 0xf];
    return out;
}

std::string generate_local_token()
{
    std::string token;
    token.reserve(32);
    std::uint64_t counter = 0;
    for (int half = 0; half < 2; ++half) {
        const HashKeys keys = next_thread_keys();
        token += token_half(keys, platform::unix_epoch_ms(), platform::process_id(), counter);
        counter += TOKEN_COUNTER_STEP;
    }
    return token;
}

} // namespace app
