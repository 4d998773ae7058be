// SipHash-1-3 and the local token.
//
// The expected values come from this independent Python implementation, checked first
// against the published SipHash-2-4 vectors (key 00..0f: empty message 726fdb47dd0e0e31,
// message 00..0e a129ca6149be45e5); its 1-3 value of the empty message, abac0158050fc4dc,
// is also the first entry of the SipHash-1-3 vector table that other implementations ship.
//
//   M = (1 << 64) - 1
//   def rotl(x, b): return ((x << b) | (x >> (64 - b))) & M
//   def sip(c, d, k0, k1, msg):
//       v = [k0 ^ 0x736f6d6570736575, k1 ^ 0x646f72616e646f6d,
//            k0 ^ 0x6c7967656e657261, k1 ^ 0x7465646279746573]
//       def rnd():
//           v[0] = (v[0] + v[1]) & M; v[1] = rotl(v[1], 13) ^ v[0]; v[0] = rotl(v[0], 32)
//           v[2] = (v[2] + v[3]) & M; v[3] = rotl(v[3], 16) ^ v[2]
//           v[0] = (v[0] + v[3]) & M; v[3] = rotl(v[3], 21) ^ v[0]
//           v[2] = (v[2] + v[1]) & M; v[1] = rotl(v[1], 17) ^ v[2]; v[2] = rotl(v[2], 32)
//       b = bytes(msg) + bytes((7 - len(msg)) % 8) + bytes([len(msg) & 0xff])
//       for i in range(0, len(b), 8):
//           m = int.from_bytes(b[i:i + 8], 'little'); v[3] ^= m
//           for _ in range(c): rnd()
//           v[0] ^= m
//       v[2] ^= 0xff
//       for _ in range(d): rnd()
//       return v[0] ^ v[1] ^ v[2] ^ v[3]
//   def half(k0, k1, ms, pid, ctr):
//       return '%016x' % sip(1, 3, k0, k1, ms.to_bytes(16, 'little')
//                            + pid.to_bytes(4, 'little') + ctr.to_bytes(8, 'little'))
#include "main/local_token.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <numeric>
#include <set>
#include <vector>

namespace {

constexpr app::HashKeys key_00_0f{0x0706050403020100, 0x0f0e0d0c0b0a0908};

TEST(SipHash13Test, MatchesTheReferenceValues)
{
    struct Case {
        std::size_t length; // message 00, 01, 02, ...
        std::uint64_t hash;
    };
    const Case cases[] = {
        {0, 0xabac0158050fc4dc},  {1, 0xc9f49bf37d57ca93},  {7, 0xd3927d989bb11140},  {8, 0x369095118d299a8e},
        {15, 0xd320d86d2a519956}, {16, 0xcc4fdd1a7d908b66}, {28, 0xfb0bed02ef6cd00d}, {63, 0x9d199062b7bbb3a8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::vector<std::uint8_t> msg(c.length);
        std::iota(msg.begin(), msg.end(), std::uint8_t{0});
        EXPECT_EQ(app::siphash13(key_00_0f, msg), c.hash);
    }
}

TEST(LocalTokenTest, HalvesAreSipHashOfTheTwentyEightBytes)
{
    struct Case {
        std::string_view name;
        app::HashKeys keys;
        std::uint64_t epoch_ms;
        std::uint32_t pid;
        std::uint64_t counter;
        std::string_view half;
    };
    constexpr std::uint64_t all = ~std::uint64_t{0};
    const Case cases[] = {
        {"first half", key_00_0f, 1765360000000, 4242, 0, "7f6747db298db946"},
        {"second half: k0 + 1 and the step", {key_00_0f.k0 + 1, key_00_0f.k1}, 1765360000000, 4242,
         app::TOKEN_COUNTER_STEP, "01c53b10f191db27"},
        {"zero inputs", {0, 0}, 0, 0, 0, "1ea56071c4bf8ac7"},
        {"all ones", {all, all}, all, 0xffffffff, all, "a1b47e136960636c"},
        {"hash below 2^60 keeps its leading zero", {1, 0}, 1765360000000, 4242, 0, "063a6360e6ada6c7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(app::token_half(c.keys, c.epoch_ms, c.pid, c.counter), c.half);
    }
}

TEST(LocalTokenTest, KeysStepK0OnEveryTaking)
{
    const app::HashKeys a = app::next_thread_keys();
    const app::HashKeys b = app::next_thread_keys();
    EXPECT_EQ(b.k0, a.k0 + 1);
    EXPECT_EQ(b.k1, a.k1);
}

// The token is the two halves of its inputs: this thread's next two key pairs (their k0
// one apart), the process id, the clock read between the two readings around the call,
// and the counters 0 and TOKEN_COUNTER_STEP. The halves themselves are pinned by the
// reference values above.
TEST(LocalTokenTest, TokenIsTwoHalvesWithTheirOwnCounters)
{
    const app::HashKeys before = app::next_thread_keys(); // the call takes k0 + 1 and k0 + 2
    const std::uint64_t from_ms = platform::unix_epoch_ms();
    const std::string token = app::generate_local_token();
    const std::uint64_t to_ms = platform::unix_epoch_ms();
    ASSERT_EQ(token.size(), 32u);
    ASSERT_LE(from_ms, to_ms) << "the system clock went back";
    const std::uint32_t pid = platform::process_id();
    struct Case {
        std::string_view name;
        std::uint64_t k0;
        std::string half;
        std::uint64_t counter;
        std::uint64_t other_counter;
    };
    const Case cases[] = {
        {"first half", before.k0 + 1, token.substr(0, 16), 0, app::TOKEN_COUNTER_STEP},
        {"second half", before.k0 + 2, token.substr(16), 0x9E3779B97F4A7C15, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool own = false, other = false;
        for (std::uint64_t ms = from_ms; ms <= to_ms; ++ms) {
            own = own || app::token_half({c.k0, before.k1}, ms, pid, c.counter) == c.half;
            other = other || app::token_half({c.k0, before.k1}, ms, pid, c.other_counter) == c.half;
        }
        EXPECT_TRUE(own) << c.half;
        EXPECT_FALSE(other) << c.half;
    }
}

TEST(LocalTokenTest, TokensAreThirtyTwoLowerHexDigitsAndDiffer)
{
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string token = app::generate_local_token();
        ASSERT_EQ(token.size(), 32u);
        EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
        EXPECT_NE(token.substr(0, 16), token.substr(16));
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 50u);
}

} // namespace
