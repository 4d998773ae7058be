#include "uploader/qr_encoder.h"

#include "uploader/qr_segments.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>

namespace uploader {

namespace {

// Level M error-correction codewords per block and number of blocks, by version
// (ISO/IEC 18004 table 9).
constexpr std::array<int, 41> ecc_per_block = {
    0,  10, 16, 26, 18, 24, 16, 18, 22, 22, 26, 30, 22, 22, 24, 24, 28, 28, 26, 26, 26,
    26, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28};
constexpr std::array<int, 41> block_count = {
    0,  1,  1,  1,  2,  2,  4,  4,  4,  5,  5,  5,  8,  9,  9,  10, 10, 11, 13, 14, 16,
    17, 17, 18, 20, 21, 23, 25, 26, 28, 29, 31, 33, 35, 37, 38, 40, 43, 45, 47, 49};

// Level M in the format information (ISO/IEC 18004 table 12).
constexpr unsigned format_level_m = 0b00;

// Modules left for codewords once the function patterns are placed.
int raw_data_modules(int version)
{
    int result = (16 * version + 128) * version + 64;
    if (version >= 2) {
        const int aligns = version / 7 + 2;
        result -= (25 * aligns - 10) * aligns - 55;
        if (version >= 7)
            result -= 36;
    }
    return result;
}

int data_codewords(int version)
{
    return raw_data_modules(version) / 8 - ecc_per_block[version] * block_count[version];
}

// Centre coordinates of the alignment patterns (ISO/IEC 18004 annex E).
std::vector<int> alignment_positions(int version)
{
    if (version == 1)
        return {};
    const int aligns = version / 7 + 2;
    const int step = (version * 8 + aligns * 3 + 5) / (aligns * 4 - 4) * 2;
    std::vector<int> result(static_cast<std::size_t>(aligns));
    result[0] = 6;
    for (int i = aligns - 1, pos = version * 4 + 10; i >= 1; --i, pos -= step)
        result[static_cast<std::size_t>(i)] = pos;
    return result;
}

// GF(256) with the field polynomial x^8 + x^4 + x^3 + x^2 + 1.
std::uint8_t gf_multiply(std::uint8_t x, std::uint8_t y)
{
    unsigned z = 0;
    for (int i = 7; i >= 0; --i) {
        z = (z << 1) ^ ((z >> 7) * 0x11DU);
        z ^= ((y >> i) & 1U) * x;
    }
    return static_cast<std::uint8_t>(z);
}

// Coefficients of the generator polynomial of `degree`, highest term (1) left out.
std::vector<std::uint8_t> rs_divisor(int degree)
{
    std::vector<std::uint8_t> result(static_cast<std::size_t>(degree));
    result.back() = 1;
    std::uint8_t root = 1;
    for (int i = 0; i < degree; ++i) {
        for (std::size_t j = 0; j < result.size(); ++j) {
            result[j] = gf_multiply(result[j], root);
            if (j + 1 < result.size())
                result[j] ^= result[j + 1];
        }
        root = gf_multiply(root, 0x02);
    }
    return result;
}

std::vector<std::uint8_t> rs_remainder(const std::uint8_t* data, std::size_t length,
                                       const std::vector<std::uint8_t>& divisor)
{
    std::vector<std::uint8_t> result(divisor.size());
    for (std::size_t k = 0; k < length; ++k) {
        const std::uint8_t factor = data[k] ^ result.front();
        std::rotate(result.begin(), result.begin() + 1, result.end());
        result.back() = 0;
        for (std::size_t i = 0; i < result.size(); ++i)
            result[i] ^= gf_multiply(divisor[i], factor);
    }
    return result;
}

// Splits the data codewords into blocks, adds each block's error correction and
// interleaves them (ISO/IEC 18004 clause 7.6).
std::vector<std::uint8_t> add_ecc_and_interleave(const std::vector<std::uint8_t>& data, int version)
{
    const auto blocks = static_cast<std::size_t>(block_count[version]);
    const auto ecc_len = static_cast<std::size_t>(ecc_per_block[version]);
    const auto raw = static_cast<std::size_t>(raw_data_modules(version) / 8);
    const std::size_t short_blocks = blocks - raw % blocks;
    const std::size_t short_len = raw / blocks; // data and ecc of a short block
    const auto divisor = rs_divisor(static_cast<int>(ecc_len));

    std::vector<std::vector<std::uint8_t>> parts;
    parts.reserve(blocks);
    std::size_t k = 0;
    for (std::size_t i = 0; i < blocks; ++i) {
        const std::size_t len = short_len - ecc_len + (i < short_blocks ? 0 : 1);
        std::vector<std::uint8_t> block(data.begin() + static_cast<std::ptrdiff_t>(k),
                                        data.begin() + static_cast<std::ptrdiff_t>(k + len));
        const auto ecc = rs_remainder(data.data() + k, len, divisor);
        k += len;
        if (i < short_blocks)
            block.push_back(0); // keeps the columns aligned; skipped below
        block.insert(block.end(), ecc.begin(), ecc.end());
        parts.push_back(std::move(block));
    }
    std::vector<std::uint8_t> result;
    result.reserve(raw);
    for (std::size_t i = 0; i < parts[0].size(); ++i) {
        for (std::size_t j = 0; j < parts.size(); ++j) {
            if (i != short_len - ecc_len || j >= short_blocks)
                result.push_back(parts[j][i]);
        }
    }
    return result;
}

class Grid {
public:
    explicit Grid(int version)
        : m_size(17 + 4 * version),
          m_dark(static_cast<std::size_t>(m_size * m_size)),
          m_function(static_cast<std::size_t>(m_size * m_size))
    {
    }

    [[nodiscard]] int size() const { return m_size; }
    [[nodiscard]] std::size_t at(int row, int col) const
    {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(m_size) + static_cast<std::size_t>(col);
    }
    [[nodiscard]] bool is_function(int row, int col) const { return m_function[at(row, col)] != 0; }
    void set(int row, int col, bool dark) { m_dark[at(row, col)] = dark ? 1 : 0; }
    void set_function(int row, int col, bool dark)
    {
        set(row, col, dark);
        m_function[at(row, col)] = 1;
    }
    std::vector<std::uint8_t>& modules() { return m_dark; }

private:
    int m_size;
    std::vector<std::uint8_t> m_dark;
    std::vector<std::uint8_t> m_function;
};

void draw_finder(Grid& g, int row, int col)
{
    for (int dr = -4; dr <= 4; ++dr) {
        for (int dc = -4; dc <= 4; ++dc) {
            const int r = row + dr;
            const int c = col + dc;
            if (r < 0 || r >= g.size() || c < 0 || c >= g.size())
                continue;
            const int dist = std::max(std::abs(dr), std::abs(dc));
            g.set_function(r, c, dist != 2 && dist != 4); // separator ring included
        }
    }
}

void draw_alignment(Grid& g, int row, int col)
{
    for (int dr = -2; dr <= 2; ++dr) {
        for (int dc = -2; dc <= 2; ++dc)
            g.set_function(row + dr, col + dc, std::max(std::abs(dr), std::abs(dc)) != 1);
    }
}

// Format information (ISO/IEC 18004 clause 7.9.1): level and mask, BCH(15,5), XOR 0x5412.
void draw_format(Grid& g, int mask)
{
    const unsigned data = format_level_m << 3 | static_cast<unsigned>(mask);
    unsigned rem = data;
    for (int i = 0; i < 10; ++i)
        rem = (rem << 1) ^ ((rem >> 9) * 0x537U);
    const unsigned bits = (data << 10 | rem) ^ 0x5412U;
    const auto bit = [bits](int i) { return ((bits >> i) & 1U) != 0; };
    const int n = g.size();

    // Around the top-left finder.
    for (int i = 0; i <= 5; ++i)
        g.set_function(i, 8, bit(i));
    g.set_function(7, 8, bit(6));
    g.set_function(8, 8, bit(7));
    g.set_function(8, 7, bit(8));
    for (int i = 9; i < 15; ++i)
        g.set_function(8, 14 - i, bit(i));
    // The copy split between the other two finders.
    for (int i = 0; i < 8; ++i)
        g.set_function(8, n - 1 - i, bit(i));
    for (int i = 8; i < 15; ++i)
        g.set_function(n - 15 + i, 8, bit(i));
    g.set_function(n - 8, 8, true); // the dark module
}

// Version information (ISO/IEC 18004 clause 7.10): BCH(18,6), versions 7 and up.
void draw_version(Grid& g, int version)
{
    if (version < 7)
        return;
    unsigned rem = static_cast<unsigned>(version);
    for (int i = 0; i < 12; ++i)
        rem = (rem << 1) ^ ((rem >> 11) * 0x1F25U);
    const unsigned bits = static_cast<unsigned>(version) << 12 | rem;
    for (int i = 0; i < 18; ++i) {
        const bool dark = ((bits >> i) & 1U) != 0;
        const int a = g.size() - 11 + i % 3;
        const int b = i / 3;
        g.set_function(b, a, dark);
        g.set_function(a, b, dark);
    }
}

void draw_function_patterns(Grid& g, int version)
{
    const int n = g.size();
    for (int i = 0; i < n; ++i) {
        g.set_function(6, i, i % 2 == 0);
        g.set_function(i, 6, i % 2 == 0);
    }
    draw_finder(g, 3, 3);
    draw_finder(g, 3, n - 4);
    draw_finder(g, n - 4, 3);
    const auto pos = alignment_positions(version);
    const std::size_t last = pos.empty() ? 0 : pos.size() - 1;
    for (std::size_t i = 0; i < pos.size(); ++i) {
        for (std::size_t j = 0; j < pos.size(); ++j) {
            const bool on_finder = (i == 0 && j == 0) || (i == 0 && j == last) || (i == last && j == 0);
            if (!on_finder)
                draw_alignment(g, pos[i], pos[j]);
        }
    }
    draw_format(g, 0); // reserves the format area; redrawn for each mask
    draw_version(g, version);
}

// Places the codewords in the two-module-wide upward and downward columns
// (ISO/IEC 18004 clause 7.7.3). Remainder bits stay light.
void place_codewords(Grid& g, const std::vector<std::uint8_t>& codewords)
{
    const int n = g.size();
    const std::size_t total_bits = codewords.size() * 8;
    std::size_t i = 0;
    for (int right = n - 1; right >= 1; right -= 2) {
        if (right == 6)
            right = 5; // skips the vertical timing pattern
        const bool upward = ((right + 1) & 2) == 0;
        for (int vert = 0; vert < n; ++vert) {
            const int row = upward ? n - 1 - vert : vert;
            for (int j = 0; j < 2; ++j) {
                const int col = right - j;
                if (g.is_function(row, col) || i >= total_bits)
                    continue;
                g.set(row, col, ((codewords[i >> 3] >> (7 - (i & 7))) & 1U) != 0);
                ++i;
            }
        }
    }
}

bool mask_bit(int mask, int row, int col)
{
    const int r = row;
    const int c = col;
    switch (mask) {
    case 0: return (r + c) % 2 == 0;
    case 1: return r % 2 == 0;
    case 2: return c % 3 == 0;
    case 3: return (r + c) % 3 == 0;
    case 4: return (r / 2 + c / 3) % 2 == 0;
    case 5: return r * c % 2 + r * c % 3 == 0;
    case 6: return (r * c % 2 + r * c % 3) % 2 == 0;
    case 7: return ((r + c) % 2 + r * c % 3) % 2 == 0;
    }
    return false;
}

// XOR is its own inverse: applying a mask twice removes it.
void apply_mask(Grid& g, int mask)
{
    for (int r = 0; r < g.size(); ++r) {
        for (int c = 0; c < g.size(); ++c) {
            if (!g.is_function(r, c) && mask_bit(mask, r, c))
                g.modules()[g.at(r, c)] ^= 1;
        }
    }
}

constexpr long penalty_run = 3;     // N1: five in a row, plus one per further module
constexpr long penalty_block = 3;   // N2: each 2 x 2 block of one colour
constexpr long penalty_finder = 40; // N3: each 1:1:3:1:1 pattern with 4 light on a side
constexpr long penalty_balance = 10; // N4: each 5 % step away from half dark

// Scans one row or column for N1 and N3. The quiet zone counts as light on both ends.
class LineScan {
public:
    explicit LineScan(int size) : m_size(size) {}

    long feed(bool dark)
    {
        long score = 0;
        if (dark == m_colour) {
            ++m_run;
            if (m_run == 5)
                score += penalty_run;
            else if (m_run > 5)
                ++score;
        } else {
            push(m_run);
            if (!m_colour)
                score += finder_patterns() * penalty_finder;
            m_colour = dark;
            m_run = 1;
        }
        return score;
    }

    long finish()
    {
        int run = m_run;
        if (m_colour) {
            push(run);
            run = 0;
        }
        push(run + m_size);
        return finder_patterns() * penalty_finder;
    }

private:
    void push(int run)
    {
        if (m_history[0] == 0)
            run += m_size; // the quiet zone before the first run
        std::copy_backward(m_history.begin(), m_history.end() - 1, m_history.end());
        m_history[0] = run;
    }

    // The last five runs dark-light-dark(3)-light-dark with light of four on one side
    // and at least one on the other.
    [[nodiscard]] long finder_patterns() const
    {
        const int n = m_history[1];
        const bool core = n > 0 && m_history[2] == n && m_history[3] == n * 3 && m_history[4] == n &&
                          m_history[5] == n;
        return (core && m_history[0] >= n * 4 && m_history[6] >= n ? 1 : 0) +
               (core && m_history[6] >= n * 4 && m_history[0] >= n ? 1 : 0);
    }

    int m_size;
    bool m_colour = false;
    int m_run = 0;
    std::array<int, 7> m_history{};
};

long penalty_score(Grid& g)
{
    const int n = g.size();
    const auto& m = g.modules();
    long score = 0;
    for (int r = 0; r < n; ++r) {
        LineScan scan(n);
        for (int c = 0; c < n; ++c)
            score += scan.feed(m[g.at(r, c)] != 0);
        score += scan.finish();
    }
    for (int c = 0; c < n; ++c) {
        LineScan scan(n);
        for (int r = 0; r < n; ++r)
            score += scan.feed(m[g.at(r, c)] != 0);
        score += scan.finish();
    }
    long dark = 0;
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            const std::uint8_t v = m[g.at(r, c)];
            dark += v;
            if (r + 1 < n && c + 1 < n && v == m[g.at(r, c + 1)] && v == m[g.at(r + 1, c)] &&
                v == m[g.at(r + 1, c + 1)])
                score += penalty_block;
        }
    }
    const long total = static_cast<long>(n) * n;
    // Smallest k with |dark / total - 1/2| <= (k + 1) / 20.
    const long k = (std::labs(dark * 20 - total * 10) + total - 1) / total - 1;
    return score + k * penalty_balance;
}

QrCode build_code(const std::vector<QrSegment>& segments, int version)
{
    const auto capacity = static_cast<std::size_t>(data_codewords(version));
    const auto codewords = add_ecc_and_interleave(qr_data_codewords(segments, version, capacity), version);
    Grid grid(version);
    draw_function_patterns(grid, version);
    place_codewords(grid, codewords);

    int best_mask = 0;
    long best_score = std::numeric_limits<long>::max();
    for (int mask = 0; mask < 8; ++mask) {
        apply_mask(grid, mask);
        draw_format(grid, mask);
        const long score = penalty_score(grid);
        if (score < best_score) {
            best_score = score;
            best_mask = mask;
        }
        apply_mask(grid, mask);
    }
    apply_mask(grid, best_mask);
    draw_format(grid, best_mask);

    QrCode code;
    code.version = version;
    code.mask = best_mask;
    code.size = grid.size();
    code.modules = std::move(grid.modules());
    return code;
}

} // namespace

std::optional<QrCode> encode_qr(std::string_view data)
{
    // Count-field widths change at versions 10 and 27, so one split serves each band.
    std::vector<QrSegment> segments;
    for (int version = qr_min_version; version <= qr_max_version; ++version) {
        if (version == 1 || version == 10 || version == 27)
            segments = qr_segments(data, version);
        const auto bits = qr_segment_bits(segments, version);
        if (bits && *bits <= static_cast<std::size_t>(data_codewords(version)) * 8)
            return build_code(segments, version);
    }
    return std::nullopt;
}

} // namespace uploader
