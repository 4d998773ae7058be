#include "uploader/qr_encoder.h"
#include "uploader/qr_segments.h"
#include "uploader/qr_text_gen.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#ifdef VANO_HAVE_QRCODEGEN
#include <qrcodegen.hpp>
#endif

namespace {

using uploader::QrMode;

struct Seg {
    QrMode mode;
    std::string text;
    bool operator==(const Seg&) const = default;
};

std::vector<Seg> plain(const std::vector<uploader::QrSegment>& segments)
{
    std::vector<Seg> out;
    for (const auto& s : segments)
        out.push_back({s.mode, s.text});
    return out;
}

TEST(QrSegments, SplitsWhereItSavesBits)
{
    struct Case {
        std::string_view name;
        std::string text;
        int version;
        std::vector<Seg> expected;
    };
    const Case cases[] = {
        {"empty", "", 1, {}},
        {"digits only", "0123456789", 1, {{QrMode::numeric, "0123456789"}}},
        {"upper case only", "HELLO WORLD", 1, {{QrMode::alphanumeric, "HELLO WORLD"}}},
        {"lower case only", "hello", 1, {{QrMode::byte, "hello"}}},
        // byte 16 + numeric 10: 140 + 48 bits against 220 in one byte segment.
        {"link with a digit code", "https://vano.kr/0123456789", 1,
         {{QrMode::byte, "https://vano.kr/"}, {QrMode::numeric, "0123456789"}}},
        {"short digit run stays in byte", "ab12cd", 1, {{QrMode::byte, "ab12cd"}}},
        {"upper-case tail", "aABCDEFGHIJKL", 1, {{QrMode::byte, "a"}, {QrMode::alphanumeric, "ABCDEFGHIJKL"}}},
        // Seven digits pay for two extra headers at the small count widths only.
        {"inner digits, small version", "ab0123456cd", 1,
         {{QrMode::byte, "ab"}, {QrMode::numeric, "0123456"}, {QrMode::byte, "cd"}}},
        {"inner digits, large version", "ab0123456cd", 27, {{QrMode::byte, "ab0123456cd"}}},
        // Inside an alphanumeric run a digit saves 13/6 bits, two more headers cost 27.
        {"digits inside upper case", "ABCD012345678901234EFGH", 1,
         {{QrMode::alphanumeric, "ABCD"}, {QrMode::numeric, "012345678901234"}, {QrMode::alphanumeric, "EFGH"}}},
        {"too few digits inside upper case", "ABCD012345678EFGH", 1, {{QrMode::alphanumeric, "ABCD012345678EFGH"}}},
        {"Hangul is bytes", "\xED\x95\x9C" "12345678901234", 1,
         {{QrMode::byte, "\xED\x95\x9C"}, {QrMode::numeric, "12345678901234"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(plain(uploader::qr_segments(c.text, c.version)), c.expected);
    }
}

// Every split of a short text into runs, tried one by one, never beats the optimiser.
TEST(QrSegments, NoSplitTakesFewerBits)
{
    const std::string texts[] = {"a1B2c3D4", "AB12cd34EF", "0A1B2C3D4E", "x.Y-7/8:9z"};
    for (const auto& text : texts) {
        for (const int version : {1, 10, 27}) {
            SCOPED_TRACE(text + " at version " + std::to_string(version));
            const auto chosen = uploader::qr_segment_bits(uploader::qr_segments(text, version), version);
            ASSERT_TRUE(chosen);
            std::size_t combos = 1;
            for (std::size_t i = 0; i < text.size(); ++i)
                combos *= 3;
            for (std::size_t k = 0; k < combos; ++k) {
                std::vector<uploader::QrSegment> segs;
                bool valid = true;
                std::size_t code = k;
                for (const char ch : text) {
                    const auto mode = static_cast<QrMode>(code % 3);
                    code /= 3;
                    const bool digit = ch >= '0' && ch <= '9';
                    const bool alnum = digit || (ch >= 'A' && ch <= 'Z') ||
                                       std::string_view(" $%*+-./:").find(ch) != std::string_view::npos;
                    if ((mode == QrMode::numeric && !digit) || (mode == QrMode::alphanumeric && !alnum)) {
                        valid = false;
                        break;
                    }
                    if (segs.empty() || segs.back().mode != mode)
                        segs.push_back({mode, {}});
                    segs.back().text += ch;
                }
                if (!valid)
                    continue;
                ASSERT_LE(*chosen, *uploader::qr_segment_bits(segs, version));
            }
        }
    }
}

#ifdef VANO_HAVE_QRCODEGEN

std::vector<qrcodegen::QrSegment> oracle_segments(const std::vector<uploader::QrSegment>& segments)
{
    std::vector<qrcodegen::QrSegment> out;
    for (const auto& s : segments) {
        switch (s.mode) {
        case QrMode::numeric: out.push_back(qrcodegen::QrSegment::makeNumeric(s.text.c_str())); break;
        case QrMode::alphanumeric: out.push_back(qrcodegen::QrSegment::makeAlphanumeric(s.text.c_str())); break;
        case QrMode::byte: out.push_back(qrcodegen::QrSegment::makeBytes({s.text.begin(), s.text.end()})); break;
        }
    }
    return out;
}

// A second encoder, given the segments ours chose, must draw the same grid for every version.
TEST(QrEncoder, SameGridAsSecondEncoder)
{
    std::set<int> versions;
    std::vector<std::string> texts;
    for (std::size_t length = 0; length <= 2400; length += 13)
        texts.push_back(qr_test::mixed_text(length, static_cast<std::uint32_t>(length)));
    for (const std::size_t digits : {1u, 40u, 700u, 3000u, 5596u})
        texts.push_back(std::string(digits, '7'));
    for (const std::size_t upper : {1u, 30u, 1000u, 3391u})
        texts.push_back(std::string(upper, 'Q'));
    // Texts on which two masks score the same: the lower number must win.
    for (const auto& [length, seed] : {std::pair{40u, 340u}, {66u, 966u}, {244u, 244u}, {106u, 1906u}})
        texts.push_back(qr_test::mixed_text(length, seed));

    for (const auto& text : texts) {
        SCOPED_TRACE("length " + std::to_string(text.size()));
        const auto ours = uploader::encode_qr(text);
        const auto fits = [&] {
            try {
                return std::optional(qrcodegen::QrCode::encodeSegments(
                    oracle_segments(uploader::qr_segments(text, ours ? ours->version : 40)),
                    qrcodegen::QrCode::Ecc::MEDIUM, 1, 40, -1, false));
            } catch (const qrcodegen::data_too_long&) {
                return std::optional<qrcodegen::QrCode>();
            }
        }();
        ASSERT_EQ(ours.has_value(), fits.has_value());
        if (!ours)
            continue;
        versions.insert(ours->version);
        ASSERT_EQ(ours->version, fits->getVersion());
        ASSERT_EQ(ours->mask, fits->getMask());
        ASSERT_EQ(ours->size, fits->getSize());
        for (int row = 0; row < ours->size; ++row) {
            for (int col = 0; col < ours->size; ++col)
                ASSERT_EQ(ours->dark(row, col), fits->getModule(col, row)) << "row " << row << " col " << col;
        }
    }
    EXPECT_EQ(versions.size(), 40u) << "the texts should reach every version";
}

#endif

} // namespace
