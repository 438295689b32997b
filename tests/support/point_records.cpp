#include "point_records.hpp"

#include <gtest/gtest.h>

#include "byte_fields.hpp"
#include "las_synth.hpp"
#include "laz_decoder.hpp"

namespace testing_support {

GridHeader grid_header_of(const std::vector<std::byte>& b) {
    GridHeader h;
    for (std::size_t a = 0; a < 3; ++a) {
        h.scale[a] = get<double>(b, 131 + 8 * a);
        h.offset[a] = get<double>(b, 155 + 8 * a);
        h.max[a] = get<double>(b, 179 + 16 * a);
        h.min[a] = get<double>(b, 187 + 16 * a);
    }
    h.format_byte = std::to_integer<std::uint8_t>(b[104]);
    h.record_length = get<std::uint16_t>(b, 105);
    h.points = b[25] == std::byte{4} ? get<std::uint64_t>(b, 247) : get<std::uint32_t>(b, 107);
    return h;
}

std::vector<std::byte> records_of(const std::string& path) {
    const std::vector<std::byte> b = lassynth::read_bytes(path);
    const GridHeader h = grid_header_of(b);
    if (!h.laz()) {
        const std::size_t from = get<std::uint32_t>(b, 96);
        const std::size_t n = h.points * h.record_length;
        return {b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + n)};
    }
    std::string error;
    std::optional<std::vector<std::byte>> r = decode_laz_records(path, error);
    EXPECT_TRUE(r) << path << ": " << error;
    return r.value_or(std::vector<std::byte>{});
}

}  // namespace testing_support
