#include "write/record_transform.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "las/byte_order.hpp"
#include "las/point_formats.hpp"

namespace quillet {
namespace {

using korvane::get_le;
using korvane::put_le;

// Where the fields of formats 0-3 lie: X, Y, Z, intensity (0-13), then the return byte (14:
// return number bits 0-2, number of returns 3-5, scan direction 6, edge of flight line 7), the
// classification byte (15: class bits 0-4, synthetic 5, key-point 6, withheld 7), the scan angle
// rank (16, i8 degrees), user data (17), point source ID (18-19); GPS time and colour after them.
namespace legacy {
constexpr std::size_t kReturns = 14, kClass = 15, kScanAngle = 16, kUserData = 17, kSource = 18;
constexpr std::size_t kGpsTime = 20;
constexpr std::size_t rgb_at(std::uint8_t format) {
    return format == 2 ? 20 : 28;
}
}  // namespace legacy

// Where the fields of formats 6-8 lie: X, Y, Z, intensity (0-13), the return byte (14: return
// number bits 0-3, number of returns 4-7), the flags byte (15: synthetic 0, key-point 1, withheld
// 2, overlap 3, scanner channel 4-5, scan direction 6, edge of flight line 7), classification
// (16), user data (17), scan angle (18, i16 in 0.006 degree steps), point source ID (20), GPS time
// (22), colour (30) and near infrared (36).
namespace extended {
constexpr std::size_t kReturns = 14, kFlags = 15, kClass = 16, kUserData = 17, kScanAngle = 18;
constexpr std::size_t kSource = 20, kGpsTime = 22, kRgb = 30, kNir = 36;
constexpr std::uint8_t kOverlapFlag = 1 << 3;
}  // namespace extended

// The class that formats 0-5 give overlap points; 6-10 flag overlap instead.
constexpr std::uint8_t kLegacyOverlapClass = 12;
constexpr double kScanAngleStep = 0.006;  // degrees

bool has_rgb(std::uint8_t format) {
    const std::optional<korvane::PointFormat> f = korvane::point_format(format);
    return f && f->rgb;
}
bool has_gps_time(std::uint8_t format) {
    const std::optional<korvane::PointFormat> f = korvane::point_format(format);
    return f && f->gps_time;
}

void copy_bytes(std::span<const std::byte> in, std::size_t from, std::span<std::byte> out,
                std::size_t to, std::size_t n) {
    std::memcpy(out.data() + to, in.data() + from, n);
}

// A record of formats 0-3 into one of formats 6-8.
void legacy_to_extended(std::span<const std::byte> in, std::uint8_t in_format,
                        std::span<std::byte> out, std::uint8_t out_format) {
    copy_bytes(in, 0, out, 0, 14);  // X, Y, Z, intensity
    const auto returns = get_le<std::uint8_t>(in, legacy::kReturns);
    const auto return_number = static_cast<std::uint8_t>(returns & 0x07);
    const auto number_of_returns = static_cast<std::uint8_t>((returns >> 3) & 0x07);
    put_le<std::uint8_t>(out, extended::kReturns,
                         static_cast<std::uint8_t>(return_number | (number_of_returns << 4)));
    const auto legacy_class = get_le<std::uint8_t>(in, legacy::kClass);
    std::uint8_t cls = legacy_class & 0x1F;
    // Synthetic, key-point and withheld keep their order in the low bits of the flags.
    auto flags = static_cast<std::uint8_t>(legacy_class >> 5);
    if (cls == kLegacyOverlapClass) {
        cls = 0;
        flags |= extended::kOverlapFlag;
    }
    flags = static_cast<std::uint8_t>(flags | (returns & 0xC0));  // scan direction, edge
    put_le<std::uint8_t>(out, extended::kFlags, flags);
    put_le<std::uint8_t>(out, extended::kClass, cls);
    put_le<std::uint8_t>(out, extended::kUserData, get_le<std::uint8_t>(in, legacy::kUserData));
    const auto rank = get_le<std::int8_t>(in, legacy::kScanAngle);
    put_le<std::int16_t>(out, extended::kScanAngle,
                         static_cast<std::int16_t>(std::lround(rank / kScanAngleStep)));
    copy_bytes(in, legacy::kSource, out, extended::kSource, 2);
    if (has_gps_time(in_format)) copy_bytes(in, legacy::kGpsTime, out, extended::kGpsTime, 8);
    if (has_rgb(in_format) && has_rgb(out_format))
        copy_bytes(in, legacy::rgb_at(in_format), out, extended::kRgb, 6);
}

}  // namespace

void ConvertedExtent::add(const ConvertedExtent& later, std::uint64_t before) {
    if (!outside && later.outside) outside = before + *later.outside;
    if (!later.any) return;
    for (std::size_t a = 0; a < kAxes; ++a) {
        lo[a] = any ? std::min(lo[a], later.lo[a]) : later.lo[a];
        hi[a] = any ? std::max(hi[a], later.hi[a]) : later.hi[a];
    }
    any = true;
}

void reshape_point(std::span<const std::byte> in, std::uint8_t in_format, std::span<std::byte> out,
                   std::uint8_t out_format) {
    std::fill(out.begin(), out.begin() + korvane::base_record_length(out_format), std::byte{0});
    if (in_format <= 3 && out_format >= 6) {
        legacy_to_extended(in, in_format, out, out_format);
        return;
    }
    // Within one family the fields before GPS time lie alike, and GPS time too.
    const std::size_t common = in_format <= 3 ? legacy::kGpsTime : extended::kRgb;
    copy_bytes(in, 0, out, 0, common);
    if (in_format <= 3) {
        if (has_gps_time(in_format) && has_gps_time(out_format))
            copy_bytes(in, legacy::kGpsTime, out, legacy::kGpsTime, 8);
        if (has_rgb(in_format) && has_rgb(out_format))
            copy_bytes(in, legacy::rgb_at(in_format), out, legacy::rgb_at(out_format), 6);
        return;
    }
    if (has_rgb(in_format) && has_rgb(out_format))
        copy_bytes(in, extended::kRgb, out, extended::kRgb, 6);
    if (in_format == 8 && out_format == 8) copy_bytes(in, extended::kNir, out, extended::kNir, 2);
}

ConvertedExtent transform_records(std::span<const std::byte> in, std::vector<std::byte>& out,
                                  const RecordTransform& t) {
    ConvertedExtent e;
    const std::size_t n = in.size() / t.in_length;
    const std::size_t in_base = t.reshape ? korvane::base_record_length(t.reshape->in_format) : 0;
    const std::size_t out_base = t.reshape ? korvane::base_record_length(t.reshape->out_format) : 0;
    std::size_t at = out.size();
    out.resize(at + n * t.out_length);
    for (std::size_t i = 0; i < n; ++i, at += t.out_length) {
        const std::span<const std::byte> r = in.subspan(i * t.in_length, t.in_length);
        const std::span<std::byte> o = std::span(out).subspan(at, t.out_length);
        if (t.reshape) {
            const Reshape& s = *t.reshape;
            reshape_point(r, s.in_format, o, s.out_format);
            for (const korvane::FieldPlacement& f : s.extra) {
                std::byte* to = o.data() + out_base + f.output_offset;
                if (f.input_offset)
                    std::memcpy(to, r.data() + in_base + *f.input_offset, f.size);
                else
                    std::memcpy(to, f.fill.data(), f.size);
            }
        } else {
            std::memcpy(o.data(), r.data(), t.in_length);
        }
        if (!t.grid) continue;
        const GridMove& g = *t.grid;
        for (std::size_t a = 0; a < kAxes; ++a) {
            const std::int32_t raw = get_le<std::int32_t>(r, 4 * a);
            const std::optional<std::int32_t> v = map_raw(
                raw, g.maps[a], g.in_scale[a], g.in_offset[a], g.out_scale[a], g.out_offset[a]);
            if (!v) {
                e.outside = i;
                out.resize(at);
                return e;
            }
            put_le<std::int32_t>(o, 4 * a, *v);
            e.lo[a] = e.any ? std::min(e.lo[a], *v) : *v;
            e.hi[a] = e.any ? std::max(e.hi[a], *v) : *v;
        }
        e.any = true;
    }
    return e;
}

}  // namespace quillet
