#pragma once
// QR data encodation (ISO/IEC 18004 clause 7.4): splitting a text into numeric,
// alphanumeric and byte segments, and the data codewords those segments make.
// Kanji mode is never used: the input is UTF-8, and a Kanji segment would make
// readers show Shift JIS characters instead of the text's own.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uploader {

enum class QrMode : std::uint8_t { numeric, alphanumeric, byte };

struct QrSegment {
    QrMode mode = QrMode::byte;
    std::string text; // the segment's bytes, each valid for `mode`
};

// Splits `data` (taken as bytes) into the segments with the fewest bits in total at the
// character-count field widths of `version` (1..40). Neighbouring segments always differ
// in mode. Empty data gives no segments.
[[nodiscard]] std::vector<QrSegment> qr_segments(std::string_view data, int version);

// Bits that `segments` take at `version`: mode indicators, count fields and data.
// nullopt when a segment is longer than its count field can state.
[[nodiscard]] std::optional<std::size_t> qr_segment_bits(const std::vector<QrSegment>& segments, int version);

// The `capacity` data codewords of `segments` at `version`: their bit stream, the
// terminator, zero bits up to a whole byte and the pad codewords 0xEC, 0x11 in turn.
// Requires qr_segment_bits(segments, version) <= 8 * capacity.
[[nodiscard]] std::vector<std::uint8_t> qr_data_codewords(const std::vector<QrSegment>& segments, int version,
                                                          std::size_t capacity);

} // namespace uploader
