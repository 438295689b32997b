#include "write/point_conversion.hpp"

#include <algorithm>

#include "las/byte_order.hpp"

namespace quillet {

void ConvertedExtent::add(const ConvertedExtent& later, std::uint64_t before) {
    if (!outside && later.outside) outside = before + *later.outside;
    if (!later.any) return;
    for (std::size_t a = 0; a < kAxes; ++a) {
        lo[a] = any ? std::min(lo[a], later.lo[a]) : later.lo[a];
        hi[a] = any ? std::max(hi[a], later.hi[a]) : later.hi[a];
    }
    any = true;
}

ConvertedExtent convert_records(std::span<std::byte> records, const Conversion& c) {
    ConvertedExtent e;
    const std::size_t n = records.size() / c.record_length;
    for (std::size_t i = 0; i < n; ++i) {
        const std::span<std::byte> r = records.subspan(i * c.record_length, c.record_length);
        std::array<std::int32_t, kAxes> out{};
        for (std::size_t a = 0; a < kAxes; ++a) {
            const std::int32_t raw = korvane::get_le<std::int32_t>(r, 4 * a);
            const std::optional<std::int32_t> v = map_raw(
                raw, c.maps[a], c.in_scale[a], c.in_offset[a], c.out_scale[a], c.out_offset[a]);
            if (!v) {
                e.outside = i;
                return e;
            }
            out[a] = *v;
        }
        for (std::size_t a = 0; a < kAxes; ++a) {
            korvane::put_le<std::int32_t>(r, 4 * a, out[a]);
            e.lo[a] = e.any ? std::min(e.lo[a], out[a]) : out[a];
            e.hi[a] = e.any ? std::max(e.hi[a], out[a]) : out[a];
        }
        e.any = true;
    }
    return e;
}

}  // namespace quillet
