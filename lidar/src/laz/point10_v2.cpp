#include "point10_v2.hpp"

#include <algorithm>

#include "las/byte_order.hpp"

namespace korvane::laz {
namespace {

// Where the fields lie in the record.
namespace at {
constexpr std::size_t kX = 0;
constexpr std::size_t kY = 4;
constexpr std::size_t kZ = 8;
constexpr std::size_t kIntensity = 12;
constexpr std::size_t kFlags = 14;
constexpr std::size_t kClassification = 15;
constexpr std::size_t kScanAngle = 16;
constexpr std::size_t kUserData = 17;
constexpr std::size_t kSource = 18;
}  // namespace at

// The bits of the changed-fields symbol.
constexpr std::uint32_t kFlagsChanged = 1u << 5;
constexpr std::uint32_t kIntensityChanged = 1u << 4;
constexpr std::uint32_t kClassificationChanged = 1u << 3;
constexpr std::uint32_t kScanAngleChanged = 1u << 2;
constexpr std::uint32_t kUserDataChanged = 1u << 1;
constexpr std::uint32_t kSourceChanged = 1u << 0;

// Context of intensity and X/Y by number of returns n (row) and return number r (column). The
// pairs of well-formed files (1 <= r <= n <= 5) get contexts 0-14 in order; the rest share
// contexts by how far they are from those, for files that count from 0 or mix r and n up.
constexpr std::uint8_t kReturnContext[8][8] = {{15, 14, 13, 12, 11, 10, 9, 8},    //
                                               {14, 0, 1, 3, 6, 10, 10, 9},       //
                                               {13, 1, 2, 4, 7, 11, 11, 10},      //
                                               {12, 3, 4, 5, 8, 12, 12, 11},      //
                                               {11, 6, 7, 8, 9, 13, 13, 12},      //
                                               {10, 10, 11, 12, 13, 14, 14, 13},  //
                                               {9, 10, 11, 12, 13, 14, 15, 14},   //
                                               {8, 9, 10, 11, 12, 13, 14, 15}};

std::int32_t wrapping_sub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// Contexts of Y and Z: whether the pulse had one return, plus the even part of a bit length,
// capped (at 20 for Y and 18 for Z).
std::uint32_t dy_context(std::uint32_t single, std::uint32_t k) {
    return single + std::min(k & ~1u, 20u);
}
std::uint32_t z_context(std::uint32_t single, std::uint32_t k) {
    return single + std::min(k & ~1u, 18u);
}

}  // namespace

Point10Fields Point10Fields::read(Point10Bytes record) {
    Point10Fields p;
    p.x = get_le<std::int32_t>(record, at::kX);
    p.y = get_le<std::int32_t>(record, at::kY);
    p.z = get_le<std::int32_t>(record, at::kZ);
    p.intensity = get_le<std::uint16_t>(record, at::kIntensity);
    p.flags = std::to_integer<std::uint8_t>(record[at::kFlags]);
    p.classification = std::to_integer<std::uint8_t>(record[at::kClassification]);
    p.scan_angle = std::to_integer<std::uint8_t>(record[at::kScanAngle]);
    p.user_data = std::to_integer<std::uint8_t>(record[at::kUserData]);
    p.source = get_le<std::uint16_t>(record, at::kSource);
    return p;
}

void Point10Fields::write(Point10Out record) const {
    put_le(record, at::kX, x);
    put_le(record, at::kY, y);
    put_le(record, at::kZ, z);
    put_le(record, at::kIntensity, intensity);
    record[at::kFlags] = std::byte{flags};
    record[at::kClassification] = std::byte{classification};
    record[at::kScanAngle] = std::byte{scan_angle};
    record[at::kUserData] = std::byte{user_data};
    put_le(record, at::kSource, source);
}

void ModelsByLastValue::begin_chunk() {
    if (++chunk_ == 0) {  // after 2^32 chunks: every stamp is stale again
        stamps_.fill(0);
        chunk_ = 1;
    }
}

void ModelsByLastValue::refresh(std::uint8_t last) {
    if (models_[last])
        models_[last]->reset();
    else
        models_[last] = std::make_unique<SymbolModel>(256);
    stamps_[last] = chunk_;
}

Point10V2State::Point10V2State()
    : changed_(64),
      scan_angle_models_{SymbolModel(256), SymbolModel(256)},
      intensity_(16, 4),
      source_(16, 1),
      dx_(32, 2),
      dy_(32, 22),
      z_(32, 20) {}

void Point10V2State::start(const Point10Fields& first) {
    changed_.reset();
    flag_models_.begin_chunk();
    classification_models_.begin_chunk();
    user_data_models_.begin_chunk();
    for (SymbolModel& m : scan_angle_models_) m.reset();
    intensity_.reset();
    source_.reset();
    dx_.reset();
    dy_.reset();
    z_.reset();
    for (Median5& m : median_dx_) m.reset();
    for (Median5& m : median_dy_) m.reset();
    last_intensity_.fill(0);
    last_z_.fill(0);
    last_ = first;
}

std::uint32_t Point10V2State::return_context(std::uint32_t flags) {
    return kReturnContext[(flags >> 3) & 7u][flags & 7u];
}

std::uint32_t Point10V2State::return_level(std::uint32_t flags) {
    const std::uint32_t r = flags & 7u;
    const std::uint32_t n = (flags >> 3) & 7u;
    return r > n ? r - n : n - r;
}

std::uint32_t Point10V2State::single_return(std::uint32_t flags) {
    return ((flags >> 3) & 7u) == 1 ? 1u : 0u;
}

void Point10V2Encoder::encode(ArithmeticEncoder& enc, Point10Bytes record) {
    const Point10Fields p = Point10Fields::read(record);
    const std::uint32_t m = return_context(p.flags);
    const std::uint32_t level = return_level(p.flags);
    const std::uint32_t single = single_return(p.flags);

    // The intensity is compared with the last one of the same return context, not with the
    // previous point's.
    const std::uint32_t changed =
        (p.flags != last_.flags ? kFlagsChanged : 0u) |
        (p.intensity != last_intensity_[m] ? kIntensityChanged : 0u) |
        (p.classification != last_.classification ? kClassificationChanged : 0u) |
        (p.scan_angle != last_.scan_angle ? kScanAngleChanged : 0u) |
        (p.user_data != last_.user_data ? kUserDataChanged : 0u) |
        (p.source != last_.source ? kSourceChanged : 0u);
    enc.encode_symbol(changed_, changed);
    if (changed & kFlagsChanged) enc.encode_symbol(flag_models_[last_.flags], p.flags);
    if (changed & kIntensityChanged) {
        intensity_.compress(enc, last_intensity_[m], p.intensity, std::min(m, 3u));
        last_intensity_[m] = p.intensity;
    }
    if (changed & kClassificationChanged)
        enc.encode_symbol(classification_models_[last_.classification], p.classification);
    if (changed & kScanAngleChanged) {
        const std::uint8_t step = static_cast<std::uint8_t>(p.scan_angle - last_.scan_angle);
        enc.encode_symbol(scan_angle_models_[(p.flags >> 6) & 1u], step);
    }
    if (changed & kUserDataChanged)
        enc.encode_symbol(user_data_models_[last_.user_data], p.user_data);
    if (changed & kSourceChanged) source_.compress(enc, last_.source, p.source, 0);

    const std::int32_t dx = wrapping_sub(p.x, last_.x);
    dx_.compress(enc, median_dx_[m].get(), dx, single);
    median_dx_[m].add(dx);

    const std::int32_t dy = wrapping_sub(p.y, last_.y);
    dy_.compress(enc, median_dy_[m].get(), dy, dy_context(single, dx_.k()));
    median_dy_[m].add(dy);

    z_.compress(enc, last_z_[level], p.z, z_context(single, (dx_.k() + dy_.k()) / 2));
    last_z_[level] = p.z;

    last_ = p;
}

void Point10V2Decoder::decode(ArithmeticDecoder& dec, Point10Out record) {
    Point10Fields& p = last_;
    const std::uint32_t changed = dec.decode_symbol(changed_);
    if (changed & kFlagsChanged)
        p.flags = static_cast<std::uint8_t>(dec.decode_symbol(flag_models_[p.flags]));
    const std::uint32_t m = return_context(p.flags);
    const std::uint32_t level = return_level(p.flags);
    const std::uint32_t single = single_return(p.flags);

    if (changed & kIntensityChanged) {
        last_intensity_[m] = static_cast<std::uint16_t>(
            intensity_.decompress(dec, last_intensity_[m], std::min(m, 3u)));
    }
    p.intensity = last_intensity_[m];
    if (changed != 0) {
        if (changed & kClassificationChanged) {
            p.classification = static_cast<std::uint8_t>(
                dec.decode_symbol(classification_models_[p.classification]));
        }
        if (changed & kScanAngleChanged) {
            const std::uint32_t step = dec.decode_symbol(scan_angle_models_[(p.flags >> 6) & 1u]);
            p.scan_angle = static_cast<std::uint8_t>(p.scan_angle + step);
        }
        if (changed & kUserDataChanged) {
            p.user_data =
                static_cast<std::uint8_t>(dec.decode_symbol(user_data_models_[p.user_data]));
        }
        if (changed & kSourceChanged)
            p.source = static_cast<std::uint16_t>(source_.decompress(dec, p.source, 0));
    }

    const std::int32_t dx = dx_.decompress(dec, median_dx_[m].get(), single);
    p.x = wrapping_add(p.x, dx);
    median_dx_[m].add(dx);

    const std::int32_t dy = dy_.decompress(dec, median_dy_[m].get(), dy_context(single, dx_.k()));
    p.y = wrapping_add(p.y, dy);
    median_dy_[m].add(dy);

    p.z = z_.decompress(dec, last_z_[level], z_context(single, (dx_.k() + dy_.k()) / 2));
    last_z_[level] = p.z;

    p.write(record);
}

}  // namespace korvane::laz
