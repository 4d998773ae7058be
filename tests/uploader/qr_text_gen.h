#pragma once
// Link-like test texts whose digit and upper-case runs make the segment split switch modes.

#include <cstdint>
#include <random>
#include <string>

namespace qr_test {

// A text of exactly `length` bytes starting like a short link; `seed` picks the runs.
inline std::string mixed_text(std::size_t length, std::uint32_t seed)
{
    static constexpr std::string_view prefix = "https://vano.example/";
    static constexpr std::string_view lower = "abcdefghijklmnopqrstuvwxyz-_?=&";
    static constexpr std::string_view upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 $%*+-./:";
    std::mt19937 rng(seed); // raw outputs only: the same on every standard library
    std::string out(prefix.substr(0, std::min(length, prefix.size())));
    while (out.size() < length) {
        const std::uint32_t kind = rng() % 4;
        const std::size_t run = 1 + rng() % 24;
        for (std::size_t i = 0; i < run && out.size() < length; ++i) {
            switch (kind) {
            case 0: out += lower[rng() % lower.size()]; break;
            case 1: out += static_cast<char>('0' + rng() % 10); break;
            case 2: out += upper[rng() % upper.size()]; break;
            default:
                if (out.size() + 3 <= length)
                    out += "\xED\x95\x9C"; // a Hangul syllable: byte mode
                else
                    out += 'x';
            }
        }
    }
    return out;
}

} // namespace qr_test
