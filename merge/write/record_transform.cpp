#include "write/record_transform.hpp"

#include <algorithm>
#include <cstring>

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

ConvertedExtent transform_records(std::span<const std::byte> in, std::vector<std::byte>& out,
                                  const RecordTransform& t) {
    ConvertedExtent e;
    const std::size_t n = in.size() / t.in_length;
    const std::size_t kept = std::min(t.in_length, t.out_length);
    std::size_t at = out.size();
    out.resize(at + n * t.out_length);
    for (std::size_t i = 0; i < n; ++i, at += t.out_length) {
        const std::span<const std::byte> r = in.subspan(i * t.in_length, t.in_length);
        const std::span<std::byte> o = std::span(out).subspan(at, t.out_length);
        std::memcpy(o.data(), r.data(), kept);
        std::fill(o.begin() + static_cast<std::ptrdiff_t>(kept), o.end(), std::byte{0});
        if (!t.grid) continue;
        const GridMove& g = *t.grid;
        for (std::size_t a = 0; a < kAxes; ++a) {
            const std::int32_t raw = korvane::get_le<std::int32_t>(r, 4 * a);
            const std::optional<std::int32_t> v = map_raw(
                raw, g.maps[a], g.in_scale[a], g.in_offset[a], g.out_scale[a], g.out_offset[a]);
            if (!v) {
                e.outside = i;
                out.resize(at);
                return e;
            }
            korvane::put_le<std::int32_t>(o, 4 * a, *v);
            e.lo[a] = e.any ? std::min(e.lo[a], *v) : *v;
            e.hi[a] = e.any ? std::max(e.hi[a], *v) : *v;
        }
        e.any = true;
    }
    return e;
}

}  // namespace quillet
