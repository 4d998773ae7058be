#pragma once
// QR Code Model 2 encoder (ISO/IEC 18004), error-correction level M only.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace uploader {

inline constexpr int qr_min_version = 1;
inline constexpr int qr_max_version = 40;

struct QrCode {
    int version = 1;
    int mask = 0;
    int size = 21;                     // modules per side: 17 + 4 * version
    std::vector<std::uint8_t> modules; // size * size, row by row; 1 is dark

    [[nodiscard]] bool dark(int row, int column) const
    {
        return modules[static_cast<std::size_t>(row) * static_cast<std::size_t>(size) +
                       static_cast<std::size_t>(column)] != 0;
    }
};

// Encodes `data` (taken as bytes) at level M: the segments of qr_segments, the smallest
// version whose capacity holds them, and of the eight masks the one with the lowest
// penalty score (the lower number on a tie). nullopt when the data does not fit version 40.
[[nodiscard]] std::optional<QrCode> encode_qr(std::string_view data);

} // namespace uploader
