#include "uploader/qr_segments.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

namespace uploader {

namespace {

constexpr std::size_t mode_count = 3;
constexpr std::array<QrMode, mode_count> all_modes = {QrMode::numeric, QrMode::alphanumeric, QrMode::byte};

constexpr std::string_view alphanumeric_chars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%*+-./:";

// Value of an alphanumeric character (ISO/IEC 18004 table 5), or -1.
constexpr int alphanumeric_value(unsigned char c)
{
    const auto pos = alphanumeric_chars.find(static_cast<char>(c));
    return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

constexpr bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

bool fits_mode(unsigned char c, QrMode mode)
{
    switch (mode) {
    case QrMode::numeric: return is_digit(c);
    case QrMode::alphanumeric: return alphanumeric_value(c) >= 0;
    case QrMode::byte: return true;
    }
    return false;
}

unsigned mode_indicator(QrMode mode)
{
    switch (mode) {
    case QrMode::numeric: return 0x1;
    case QrMode::alphanumeric: return 0x2;
    case QrMode::byte: return 0x4;
    }
    return 0;
}

// Width of the character-count field (ISO/IEC 18004 table 3).
int count_bits(QrMode mode, int version)
{
    const int band = version <= 9 ? 0 : version <= 26 ? 1 : 2;
    switch (mode) {
    case QrMode::numeric: return std::array{10, 12, 14}[band];
    case QrMode::alphanumeric: return std::array{9, 11, 13}[band];
    case QrMode::byte: return std::array{8, 16, 16}[band];
    }
    return 0;
}

// Data bits of `length` characters in `mode`.
std::size_t data_bits(QrMode mode, std::size_t length)
{
    switch (mode) {
    case QrMode::numeric: return length / 3 * 10 + std::array<std::size_t, 3>{0, 4, 7}[length % 3];
    case QrMode::alphanumeric: return length / 2 * 11 + (length % 2) * 6;
    case QrMode::byte: return length * 8;
    }
    return 0;
}

// Cost of one character in sixths of a bit: numeric takes 10/3 bits, alphanumeric 11/2,
// byte 8. A segment of L characters takes exactly ceil(L * cost / 6) data bits, so a
// search in sixths that rounds up where a segment ends counts whole bits exactly.
constexpr std::array<std::uint64_t, mode_count> char_cost6 = {20, 33, 48};

constexpr std::uint64_t round_up6(std::uint64_t cost) { return (cost + 5) / 6 * 6; }

class BitWriter {
public:
    explicit BitWriter(std::size_t capacity_bytes) { m_bytes.reserve(capacity_bytes); }

    void append(unsigned value, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            if (m_bits % 8 == 0)
                m_bytes.push_back(0);
            if ((value >> i) & 1U)
                m_bytes.back() |= static_cast<std::uint8_t>(0x80U >> (m_bits % 8));
            ++m_bits;
        }
    }

    [[nodiscard]] std::size_t bit_count() const { return m_bits; }
    std::vector<std::uint8_t>& bytes() { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_bits = 0;
};

} // namespace

std::vector<QrSegment> qr_segments(std::string_view data, int version)
{
    constexpr std::uint64_t unreachable = std::numeric_limits<std::uint64_t>::max();
    const std::size_t n = data.size();
    std::array<std::uint64_t, mode_count> header6{};
    for (std::size_t m = 0; m < mode_count; ++m)
        header6[m] = static_cast<std::uint64_t>(4 + count_bits(all_modes[m], version)) * 6;

    // best[m]: least cost of the characters so far with the last one in mode m, that mode's
    // segment still open. from[i][m]: the mode of character i - 1 on that best path.
    std::array<std::uint64_t, mode_count> best{};
    std::vector<std::array<std::uint8_t, mode_count>> from(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        std::array<std::uint64_t, mode_count> next{};
        for (std::size_t m = 0; m < mode_count; ++m) {
            next[m] = unreachable;
            if (!fits_mode(c, all_modes[m]))
                continue;
            if (i == 0) {
                next[m] = header6[m] + char_cost6[m];
                from[i][m] = static_cast<std::uint8_t>(m);
                continue;
            }
            // Staying in the mode is tried first, so ties keep fewer segments.
            std::uint64_t least = best[m];
            std::size_t prev = m;
            for (std::size_t f = 0; f < mode_count; ++f) {
                if (f == m || best[f] == unreachable)
                    continue;
                const std::uint64_t switched = round_up6(best[f]) + header6[m];
                if (least == unreachable || switched < least) {
                    least = switched;
                    prev = f;
                }
            }
            next[m] = least + char_cost6[m];
            from[i][m] = static_cast<std::uint8_t>(prev);
        }
        best = next;
    }

    std::vector<QrSegment> segments;
    if (n == 0)
        return segments;
    std::size_t mode = mode_count;
    for (std::size_t m = 0; m < mode_count; ++m) {
        if (best[m] != unreachable && (mode == mode_count || round_up6(best[m]) < round_up6(best[mode])))
            mode = m;
    }
    // Walk back, cutting a segment wherever the mode changes.
    std::size_t end = n;
    for (std::size_t i = n; i-- > 0;) {
        const std::size_t prev = from[i][mode];
        if (i == 0 || prev != mode) {
            segments.push_back({all_modes[mode], std::string(data.substr(i, end - i))});
            end = i;
            mode = prev;
        }
    }
    return {segments.rbegin(), segments.rend()};
}

std::optional<std::size_t> qr_segment_bits(const std::vector<QrSegment>& segments, int version)
{
    std::size_t total = 0;
    for (const auto& seg : segments) {
        const int width = count_bits(seg.mode, version);
        if (seg.text.size() >= (std::size_t{1} << width))
            return std::nullopt;
        total += 4 + static_cast<std::size_t>(width) + data_bits(seg.mode, seg.text.size());
    }
    return total;
}

std::vector<std::uint8_t> qr_data_codewords(const std::vector<QrSegment>& segments, int version,
                                            std::size_t capacity)
{
    BitWriter out(capacity);
    for (const auto& seg : segments) {
        out.append(mode_indicator(seg.mode), 4);
        out.append(static_cast<unsigned>(seg.text.size()), count_bits(seg.mode, version));
        const std::string& t = seg.text;
        switch (seg.mode) {
        case QrMode::numeric:
            for (std::size_t i = 0; i < t.size(); i += 3) {
                const std::size_t len = std::min<std::size_t>(3, t.size() - i);
                unsigned value = 0;
                for (std::size_t j = 0; j < len; ++j)
                    value = value * 10 + static_cast<unsigned>(t[i + j] - '0');
                out.append(value, static_cast<int>(len * 3 + 1));
            }
            break;
        case QrMode::alphanumeric:
            for (std::size_t i = 0; i + 1 < t.size(); i += 2) {
                const auto a = static_cast<unsigned>(alphanumeric_value(static_cast<unsigned char>(t[i])));
                const auto b = static_cast<unsigned>(alphanumeric_value(static_cast<unsigned char>(t[i + 1])));
                out.append(a * 45 + b, 11);
            }
            if (t.size() % 2 != 0)
                out.append(static_cast<unsigned>(alphanumeric_value(static_cast<unsigned char>(t.back()))), 6);
            break;
        case QrMode::byte:
            for (const char c : t)
                out.append(static_cast<unsigned char>(c), 8);
            break;
        }
    }
    const std::size_t capacity_bits = capacity * 8;
    out.append(0, static_cast<int>(std::min<std::size_t>(4, capacity_bits - out.bit_count())));
    out.append(0, static_cast<int>((8 - out.bit_count() % 8) % 8));
    for (std::uint8_t pad = 0xEC; out.bytes().size() < capacity; pad ^= 0xEC ^ 0x11)
        out.append(pad, 8);
    return std::move(out.bytes());
}

} // namespace uploader
