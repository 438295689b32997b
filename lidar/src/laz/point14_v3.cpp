#include "laz/point14_v3.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "las/byte_order.hpp"

namespace korvane::laz {
namespace {

using point14_detail::changed_values_context;
using point14_detail::Channel;

// Which of the 6 classes of (number of returns, return number) a point is in, for the X and Y
// models: row n, column r, one digit each.
constexpr const char* kReturnClass[16] = {
    "0123453445555555", "1013333333333333", "2124444444433333", "3345444444444444",
    "4344544444444444", "5344454444444444", "3344445444444444", "4344444544444444",
    "4344444454444444", "5344444445444444", "5344444444544444", "5334444444455444",
    "5334444444455544", "5334444444445554", "5334444444444555", "5334444444444455",
};

std::uint32_t return_class(std::uint32_t n, std::uint32_t r) {
    return static_cast<std::uint32_t>(kReturnClass[n][r] - '0');
}

// The Z prediction of a point comes from the last point of the same return level: how far its
// return number lies from its number of returns, up to 7.
std::uint32_t return_level(std::uint32_t n, std::uint32_t r) {
    return std::min<std::uint32_t>(n > r ? n - r : r - n, 7);
}

std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
std::int32_t wrapping_sub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
std::int32_t wrapping_mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// GPS times are compared as doubles (so +0.0 equals -0.0 and a NaN differs from itself) but
// predicted as the 64-bit integers of their bits.
bool times_differ(std::uint64_t a, std::uint64_t b) {
    return std::bit_cast<double>(a) != std::bit_cast<double>(b);
}

std::int64_t time_difference(std::uint64_t now, std::uint64_t before) {
    return static_cast<std::int64_t>(now - before);
}
bool fits_32(std::int64_t d) {
    return d == static_cast<std::int32_t>(d);
}
std::int32_t high_word(std::uint64_t bits) {
    return static_cast<std::int32_t>(bits >> 32);
}

// The step of a new GPS time as a multiple of the sequence's last step, computed in single
// precision and rounded half away from zero as the writers do. A quotient of 2^31, past int32,
// comes out as INT32_MIN there (x86's conversion of an out-of-range value): kept so.
std::int32_t step_multiple(std::int32_t step, std::int32_t last_step) {
    const double q = static_cast<double>(static_cast<float>(step) / static_cast<float>(last_step));
    const double rounded = q >= 0 ? std::floor(q + 0.5) : std::ceil(q - 0.5);
    if (rounded >= 2147483648.0 || rounded < -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(rounded);
}

// Symbols of the GPS time models. With a last step of 0: the step, a full time, or a switch to
// the sequence 1-3 on. Otherwise: a multiple 0-500 of the last step (500 for 500 and more),
// -1 to -9 as 501-509, -10 and less as 510, a full time, or a switch to sequence 1-3 on.
constexpr std::uint32_t kNoStepDifference = 0;
constexpr std::uint32_t kNoStepFull = 1;
constexpr std::uint32_t kNoStepSwitch = 2;  // + sequences on - 1
constexpr std::int32_t kMultipleMax = 500;
constexpr std::int32_t kMultipleMin = -10;
constexpr std::uint32_t kMultipleFull = 511;  // + sequences on to switch

constexpr std::uint32_t kMultipleSymbols = 515;
constexpr std::uint32_t kNoStepSymbols = 5;

// A point's GPS time may switch sequence at most once in a valid stream; a stream that keeps
// switching is damaged.
constexpr int kMaxSequenceSwitches = 4;

std::uint8_t flags_from_coded(std::uint32_t coded, std::uint32_t channel) {
    return static_cast<std::uint8_t>((coded & 0x0Fu) | ((coded & 0x30u) << 2) | (channel << 4));
}

std::vector<ResetPerChunk<SymbolModel>> models(std::size_t count, std::uint32_t symbols) {
    return std::vector<ResetPerChunk<SymbolModel>>(count, ResetPerChunk<SymbolModel>(symbols));
}

}  // namespace

Point14Fields Point14Fields::read(const std::byte* record) {
    const std::span<const std::byte> b(record, kPoint14Bytes);
    Point14Fields p;
    p.x = get_le<std::int32_t>(b, 0);
    p.y = get_le<std::int32_t>(b, 4);
    p.z = get_le<std::int32_t>(b, 8);
    p.intensity = get_le<std::uint16_t>(b, 12);
    p.returns = get_le<std::uint8_t>(b, 14);
    p.flags = get_le<std::uint8_t>(b, 15);
    p.classification = get_le<std::uint8_t>(b, 16);
    p.user_data = get_le<std::uint8_t>(b, 17);
    p.scan_angle = get_le<std::int16_t>(b, 18);
    p.point_source = get_le<std::uint16_t>(b, 20);
    p.gps_bits = get_le<std::uint64_t>(b, 22);
    return p;
}

void Point14Fields::write(std::byte* record) const {
    const std::span<std::byte> b(record, kPoint14Bytes);
    put_le(b, 0, x);
    put_le(b, 4, y);
    put_le(b, 8, z);
    put_le(b, 12, intensity);
    put_le(b, 14, returns);
    put_le(b, 15, flags);
    put_le(b, 16, classification);
    put_le(b, 17, user_data);
    put_le(b, 18, scan_angle);
    put_le(b, 20, point_source);
    put_le(b, 22, gps_bits);
}

namespace point14_detail {

void MedianOfFive::add(std::int32_t v) {
    const bool above = v >= sorted_[2];
    const bool below = v <= sorted_[2];
    if (drop_largest_) {
        std::size_t i = 4;
        for (; i > 0 && sorted_[i - 1] > v; --i) sorted_[i] = sorted_[i - 1];
        sorted_[i] = v;
        drop_largest_ = !above;
    } else {
        std::size_t i = 0;
        for (; i < 4 && sorted_[i + 1] < v; ++i) sorted_[i] = sorted_[i + 1];
        sorted_[i] = v;
        drop_largest_ = below;
    }
}

Channel::Channel()
    : changed_values(models(8, 128)),
      channel_step(3u),
      return_step(13u),
      number_of_returns(models(16, 16)),
      return_number(models(16, 16)),
      classification(models(64, 256)),
      coded_flags(models(64, 64)),
      user_data(models(64, 256)),
      gps_multiple(kMultipleSymbols),
      gps_no_step(kNoStepSymbols),
      dx(32u, 2u),
      dy(32u, 22u),
      dz(32u, 20u),
      intensity(16u, 4u),
      scan_angle(16u, 2u),
      point_source(16u, 1u),
      gps_time(32u, 9u) {}

void Channel::start(const Point14Fields& seed) {
    active = true;
    last = seed;
    gps_changed = false;
    last_intensity.fill(seed.intensity);
    last_z.fill(seed.z);
    for (MedianOfFive& m : dx_median) m.reset();
    for (MedianOfFive& m : dy_median) m.reset();
    gps = GpsSequences{};
    gps.time[0] = seed.gps_bits;
}

}  // namespace point14_detail

// ---- Encoder ----

void Point14V3Encoder::begin() {
    ++chunk_;
    for (ArithmeticEncoder& e : layers_) e.reset();
    written_.fill(false);
    written_[static_cast<std::size_t>(Point14Layer::Xy)] = true;
    written_[static_cast<std::size_t>(Point14Layer::Z)] = true;
    for (Channel& c : channels_) c.active = false;
}

std::uint32_t Point14V3Encoder::first(const std::byte* record) {
    const Point14Fields p = Point14Fields::read(record);
    last_channel_ = p.channel();
    channels_[last_channel_].start(p);
    return last_channel_;
}

std::uint32_t Point14V3Encoder::encode(const std::byte* record) {
    const Point14Fields p = Point14Fields::read(record);
    Channel& prev = channels_[last_channel_];
    const std::uint32_t lpr = changed_values_context(prev);
    const std::uint32_t sc = p.channel();
    Channel& c = channels_[sc];
    if (!c.active) c.start(prev.last);
    const Point14Fields& l = c.last;

    const bool gps_changed = times_differ(p.gps_bits, l.gps_bits);
    const bool source_changed = p.point_source != l.point_source;
    const bool angle_changed = p.scan_angle != l.scan_angle;
    const std::uint32_t last_n = l.number_of_returns();
    const std::uint32_t last_r = l.return_number();
    const std::uint32_t n = p.number_of_returns();
    const std::uint32_t r = p.return_number();
    const bool up = r == ((last_r + 1) & 15);
    const bool down = r == ((last_r + 15) & 15);
    const bool jump = r != last_r && !up && !down;

    ArithmeticEncoder& xy = layer(Point14Layer::Xy);
    const std::uint32_t changed = static_cast<std::uint32_t>(up || jump) |
                                  (static_cast<std::uint32_t>(down || jump) << 1) |
                                  (static_cast<std::uint32_t>(n != last_n) << 2) |
                                  (static_cast<std::uint32_t>(angle_changed) << 3) |
                                  (static_cast<std::uint32_t>(gps_changed) << 4) |
                                  (static_cast<std::uint32_t>(source_changed) << 5) |
                                  (static_cast<std::uint32_t>(sc != last_channel_) << 6);
    xy.encode_symbol(prev.changed_values[lpr].in(chunk_), changed);
    if (sc != last_channel_)
        xy.encode_symbol(prev.channel_step.in(chunk_), (sc - last_channel_ + 3) & 3);
    if (n != last_n) xy.encode_symbol(c.number_of_returns[last_n].in(chunk_), n);
    if (jump) {
        if (gps_changed)
            xy.encode_symbol(c.return_number[last_r].in(chunk_), r);
        else
            xy.encode_symbol(c.return_step.in(chunk_), (r - last_r + 14) & 15);
    }

    // X and Y as differences from the last point, predicted by the median of recent ones.
    const std::uint32_t xy_context =
        (return_class(n, r) << 1) | static_cast<std::uint32_t>(gps_changed);
    const std::uint32_t single = n == 1 ? 1 : 0;
    IntegerCompressor& dx = c.dx.in(chunk_);
    IntegerCompressor& dy = c.dy.in(chunk_);
    const std::int32_t step_x = wrapping_sub(p.x, l.x);
    dx.compress(xy, c.dx_median[xy_context].median(), step_x, single);
    c.dx_median[xy_context].add(step_x);
    const std::uint32_t kx = std::min(dx.k(), 20u) & ~1u;
    const std::int32_t step_y = wrapping_sub(p.y, l.y);
    dy.compress(xy, c.dy_median[xy_context].median(), step_y, kx | single);
    c.dy_median[xy_context].add(step_y);

    const std::uint32_t kz = std::min((dx.k() + dy.k()) / 2, 18u) & ~1u;
    const std::uint32_t level = return_level(n, r);
    c.dz.in(chunk_).compress(layer(Point14Layer::Z), c.last_z[level], p.z, kz | single);
    c.last_z[level] = p.z;

    const std::uint32_t class_context =
        static_cast<std::uint32_t>(r == 1 && r >= n) | ((l.classification & 0x1Fu) << 1);
    if (p.classification != l.classification) mark(Point14Layer::Classification);
    layer(Point14Layer::Classification)
        .encode_symbol(c.classification[class_context].in(chunk_), p.classification);

    if (p.coded_flags() != l.coded_flags()) mark(Point14Layer::Flags);
    layer(Point14Layer::Flags)
        .encode_symbol(c.coded_flags[l.coded_flags()].in(chunk_), p.coded_flags());

    const std::uint32_t intensity_context = static_cast<std::uint32_t>(gps_changed) |
                                            (static_cast<std::uint32_t>(r >= n) << 1) |
                                            (static_cast<std::uint32_t>(r == 1) << 2);
    if (p.intensity != l.intensity) mark(Point14Layer::Intensity);
    c.intensity.in(chunk_).compress(layer(Point14Layer::Intensity),
                                    c.last_intensity[intensity_context], p.intensity,
                                    intensity_context >> 1);
    c.last_intensity[intensity_context] = p.intensity;

    if (angle_changed) {
        mark(Point14Layer::ScanAngle);
        c.scan_angle.in(chunk_).compress(layer(Point14Layer::ScanAngle), l.scan_angle, p.scan_angle,
                                         gps_changed ? 1 : 0);
    }

    if (p.user_data != l.user_data) mark(Point14Layer::UserData);
    layer(Point14Layer::UserData)
        .encode_symbol(c.user_data[l.user_data / 4u].in(chunk_), p.user_data);

    if (source_changed) {
        mark(Point14Layer::PointSource);
        c.point_source.in(chunk_).compress(layer(Point14Layer::PointSource), l.point_source,
                                           p.point_source, 0);
    }

    if (gps_changed) {
        mark(Point14Layer::GpsTime);
        encode_gps_time(c, p.gps_bits);
    }

    const std::uint32_t context = sc != last_channel_ ? sc : 0;
    last_channel_ = sc;
    c.gps_changed = gps_changed;
    c.last = p;
    return context;
}

void Point14V3Encoder::encode_gps_time(Channel& c, std::uint64_t bits) {
    ArithmeticEncoder& enc = layer(Point14Layer::GpsTime);
    IntegerCompressor& ic = c.gps_time.in(chunk_);
    point14_detail::GpsSequences& g = c.gps;
    // The first sequence, `from` or more on from the current one, whose last time lies within
    // 32 bits of this one; -1 when none does.
    const auto near_sequence = [&](std::uint32_t from, std::int32_t& step) {
        for (std::uint32_t i = from; i < 4; ++i) {
            const std::int64_t d = time_difference(bits, g.time[(g.current + i) & 3]);
            if (fits_32(d)) {
                step = static_cast<std::int32_t>(d);
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    // A time too far from the current sequence's, and from every other, opens a new sequence.
    const auto full_time = [&]() {
        ic.compress(enc, high_word(g.time[g.current]), high_word(bits), 8);
        enc.write_int(static_cast<std::uint32_t>(bits));
        g.newest = (g.newest + 1) & 3;
        g.current = g.newest;
        g.step[g.current] = 0;
        g.extremes[g.current] = 0;
    };
    // A step far from the expected one counts; after four in a row it becomes the expected one.
    const auto extreme = [&](std::int32_t step) {
        if (++g.extremes[g.current] > 3) {
            g.extremes[g.current] = 0;
            g.step[g.current] = step;
        }
    };

    for (;;) {
        if (g.step[g.current] == 0) {
            std::int32_t step = 0;
            const int near = near_sequence(0, step);
            if (near == 0) {
                enc.encode_symbol(c.gps_no_step.in(chunk_), kNoStepDifference);
                ic.compress(enc, 0, step, 0);
                g.step[g.current] = step;
                g.extremes[g.current] = 0;
            } else if (near > 0) {
                enc.encode_symbol(c.gps_no_step.in(chunk_),
                                  kNoStepSwitch + static_cast<std::uint32_t>(near) - 1);
                g.current = (g.current + static_cast<std::uint32_t>(near)) & 3;
                continue;
            } else {
                enc.encode_symbol(c.gps_no_step.in(chunk_), kNoStepFull);
                full_time();
            }
            g.time[g.current] = bits;
            return;
        }
        const std::int64_t d = time_difference(bits, g.time[g.current]);
        if (fits_32(d)) {
            const std::int32_t step = static_cast<std::int32_t>(d);
            const std::int32_t last_step = g.step[g.current];
            const std::int32_t multi = step_multiple(step, last_step);
            SymbolModel& m = c.gps_multiple.in(chunk_);
            if (multi > 0 && multi < kMultipleMax) {
                enc.encode_symbol(m, static_cast<std::uint32_t>(multi));
                const std::uint32_t context = multi == 1 ? 1 : multi < 10 ? 2 : 3;
                ic.compress(enc, wrapping_mul(multi, last_step), step, context);
                if (multi == 1) g.extremes[g.current] = 0;
            } else if (multi >= kMultipleMax) {
                enc.encode_symbol(m, static_cast<std::uint32_t>(kMultipleMax));
                ic.compress(enc, wrapping_mul(kMultipleMax, last_step), step, 4);
                extreme(step);
            } else if (multi < 0 && multi > kMultipleMin) {
                enc.encode_symbol(m, static_cast<std::uint32_t>(kMultipleMax - multi));
                ic.compress(enc, wrapping_mul(multi, last_step), step, 5);
            } else if (multi <= kMultipleMin) {
                enc.encode_symbol(m, static_cast<std::uint32_t>(kMultipleMax - kMultipleMin));
                ic.compress(enc, wrapping_mul(kMultipleMin, last_step), step, 6);
                extreme(step);
            } else {
                enc.encode_symbol(m, 0);
                ic.compress(enc, 0, step, 7);
                extreme(step);
            }
        } else {
            std::int32_t step = 0;
            const int near = near_sequence(1, step);
            if (near > 0) {
                enc.encode_symbol(c.gps_multiple.in(chunk_),
                                  kMultipleFull + static_cast<std::uint32_t>(near));
                g.current = (g.current + static_cast<std::uint32_t>(near)) & 3;
                continue;
            }
            enc.encode_symbol(c.gps_multiple.in(chunk_), kMultipleFull);
            full_time();
        }
        g.time[g.current] = bits;
        return;
    }
}

void Point14V3Encoder::finish(std::span<std::span<const std::byte>, kPoint14Layers> layers) {
    for (std::size_t i = 0; i < kPoint14Layers; ++i) {
        if (written_[i]) {
            const std::vector<std::byte>& bytes = layers_[i].finish();
            layers[i] = std::span<const std::byte>(bytes);
        } else {
            layers[i] = {};
        }
    }
}

// ---- Decoder ----

std::uint32_t Point14V3Decoder::begin(const std::byte* record) {
    ++chunk_;
    bad_code_ = false;
    for (Channel& c : channels_) c.active = false;
    const Point14Fields p = Point14Fields::read(record);
    last_channel_ = p.channel();
    channels_[last_channel_].start(p);
    return last_channel_;
}

void Point14V3Decoder::set_layers(
    std::span<const std::span<const std::byte>, kPoint14Layers> layers) {
    for (std::size_t i = 0; i < kPoint14Layers; ++i) {
        present_[i] = !layers[i].empty();
        layers_[i].reset(layers[i]);
    }
    // XY is always coded: an empty XY layer reads as zeros and is found short.
    present_[static_cast<std::size_t>(Point14Layer::Xy)] = true;
}

bool Point14V3Decoder::damaged() const {
    if (bad_code_) return true;
    for (std::size_t i = 0; i < kPoint14Layers; ++i)
        if (present_[i] && layers_[i].overrun()) return true;
    return false;
}

std::uint32_t Point14V3Decoder::decode(std::byte* record) {
    Channel& prev = channels_[last_channel_];
    ArithmeticDecoder& xy = layer(Point14Layer::Xy);
    const std::uint32_t changed =
        xy.decode_symbol(prev.changed_values[changed_values_context(prev)].in(chunk_));
    std::uint32_t context = 0;
    std::uint32_t sc = last_channel_;
    if (changed & (1u << 6)) {
        sc = (sc + xy.decode_symbol(prev.channel_step.in(chunk_)) + 1) & 3;
        last_channel_ = sc;
        context = sc;
    }
    Channel& c = channels_[sc];
    if (!c.active) c.start(prev.last);
    Point14Fields& l = c.last;

    const bool gps_changed = (changed & (1u << 4)) != 0;
    std::uint32_t n = l.number_of_returns();
    std::uint32_t r = l.return_number();
    if (changed & (1u << 2)) n = xy.decode_symbol(c.number_of_returns[n].in(chunk_));
    switch (changed & 3u) {
        case 1:
            r = (r + 1) & 15;
            break;
        case 2:
            r = (r + 15) & 15;
            break;
        case 3:
            if (gps_changed)
                r = xy.decode_symbol(c.return_number[r].in(chunk_));
            else
                r = (r + xy.decode_symbol(c.return_step.in(chunk_)) + 2) & 15;
            break;
        default:
            break;
    }
    l.returns = static_cast<std::uint8_t>(r | (n << 4));

    const std::uint32_t xy_context =
        (return_class(n, r) << 1) | static_cast<std::uint32_t>(gps_changed);
    const std::uint32_t single = n == 1 ? 1 : 0;
    IntegerCompressor& dx = c.dx.in(chunk_);
    IntegerCompressor& dy = c.dy.in(chunk_);
    const std::int32_t step_x = dx.decompress(xy, c.dx_median[xy_context].median(), single);
    l.x = wrapping_add(l.x, step_x);
    c.dx_median[xy_context].add(step_x);
    const std::uint32_t kx = std::min(dx.k(), 20u) & ~1u;
    const std::int32_t step_y = dy.decompress(xy, c.dy_median[xy_context].median(), kx | single);
    l.y = wrapping_add(l.y, step_y);
    c.dy_median[xy_context].add(step_y);

    if (present(Point14Layer::Z)) {
        const std::uint32_t kz = std::min((dx.k() + dy.k()) / 2, 18u) & ~1u;
        const std::uint32_t level = return_level(n, r);
        l.z = c.dz.in(chunk_).decompress(layer(Point14Layer::Z), c.last_z[level], kz | single);
        c.last_z[level] = l.z;
    }

    if (present(Point14Layer::Classification)) {
        const std::uint32_t class_context =
            static_cast<std::uint32_t>(r == 1 && r >= n) | ((l.classification & 0x1Fu) << 1);
        l.classification = static_cast<std::uint8_t>(
            layer(Point14Layer::Classification)
                .decode_symbol(c.classification[class_context].in(chunk_)));
    }

    if (present(Point14Layer::Flags)) {
        const std::uint32_t coded =
            layer(Point14Layer::Flags).decode_symbol(c.coded_flags[l.coded_flags()].in(chunk_));
        l.flags = flags_from_coded(coded, sc);
    } else {
        l.flags = flags_from_coded(l.coded_flags(), sc);
    }

    if (present(Point14Layer::Intensity)) {
        const std::uint32_t intensity_context = static_cast<std::uint32_t>(gps_changed) |
                                                (static_cast<std::uint32_t>(r >= n) << 1) |
                                                (static_cast<std::uint32_t>(r == 1) << 2);
        const auto value = static_cast<std::uint16_t>(c.intensity.in(chunk_).decompress(
            layer(Point14Layer::Intensity), c.last_intensity[intensity_context],
            intensity_context >> 1));
        c.last_intensity[intensity_context] = value;
        l.intensity = value;
    }

    // A value flagged as changed must have a layer to come from.
    if ((changed & (1u << 3)) && !present(Point14Layer::ScanAngle)) bad_code_ = true;
    if ((changed & (1u << 5)) && !present(Point14Layer::PointSource)) bad_code_ = true;
    if (gps_changed && !present(Point14Layer::GpsTime)) bad_code_ = true;

    if (changed & (1u << 3)) {
        l.scan_angle = static_cast<std::int16_t>(c.scan_angle.in(chunk_).decompress(
            layer(Point14Layer::ScanAngle), l.scan_angle, gps_changed ? 1 : 0));
    }

    if (present(Point14Layer::UserData)) {
        l.user_data = static_cast<std::uint8_t>(
            layer(Point14Layer::UserData).decode_symbol(c.user_data[l.user_data / 4u].in(chunk_)));
    }

    if (changed & (1u << 5)) {
        l.point_source = static_cast<std::uint16_t>(c.point_source.in(chunk_).decompress(
            layer(Point14Layer::PointSource), l.point_source, 0));
    }

    if (gps_changed) decode_gps_time(c);
    c.gps_changed = gps_changed;
    l.write(record);
    return context;
}

void Point14V3Decoder::decode_gps_time(Channel& c) {
    ArithmeticDecoder& dec = layer(Point14Layer::GpsTime);
    IntegerCompressor& ic = c.gps_time.in(chunk_);
    point14_detail::GpsSequences& g = c.gps;
    const auto full_time = [&]() {
        g.newest = (g.newest + 1) & 3;
        const auto high =
            static_cast<std::uint32_t>(ic.decompress(dec, high_word(g.time[g.current]), 8));
        const std::uint32_t low = dec.read_int();
        g.time[g.newest] = (std::uint64_t{high} << 32) | low;
        g.current = g.newest;
        g.step[g.current] = 0;
        g.extremes[g.current] = 0;
    };
    const auto extreme = [&](std::int32_t step) {
        if (++g.extremes[g.current] > 3) {
            g.extremes[g.current] = 0;
            g.step[g.current] = step;
        }
    };
    const auto advance = [&](std::int32_t step) {
        g.time[g.current] += static_cast<std::uint64_t>(static_cast<std::int64_t>(step));
    };

    for (int switches = 0;; ++switches) {
        if (switches > kMaxSequenceSwitches) {
            bad_code_ = true;
            break;
        }
        if (g.step[g.current] == 0) {
            const std::uint32_t s = dec.decode_symbol(c.gps_no_step.in(chunk_));
            if (s == kNoStepDifference) {
                const std::int32_t step = ic.decompress(dec, 0, 0);
                g.step[g.current] = step;
                advance(step);
                g.extremes[g.current] = 0;
            } else if (s == kNoStepFull) {
                full_time();
            } else {
                g.current = (g.current + s - kNoStepSwitch + 1) & 3;
                continue;
            }
            break;
        }
        const std::uint32_t s = dec.decode_symbol(c.gps_multiple.in(chunk_));
        const std::int32_t last_step = g.step[g.current];
        if (s == 1) {
            advance(ic.decompress(dec, last_step, 1));
            g.extremes[g.current] = 0;
        } else if (s < kMultipleFull) {
            std::int32_t step = 0;
            const auto multi = static_cast<std::int32_t>(s);
            if (multi == 0) {
                step = ic.decompress(dec, 0, 7);
                extreme(step);
            } else if (multi < kMultipleMax) {
                step = ic.decompress(dec, wrapping_mul(multi, last_step), multi < 10 ? 2 : 3);
            } else if (multi == kMultipleMax) {
                step = ic.decompress(dec, wrapping_mul(kMultipleMax, last_step), 4);
                extreme(step);
            } else if (kMultipleMax - multi > kMultipleMin) {
                step = ic.decompress(dec, wrapping_mul(kMultipleMax - multi, last_step), 5);
            } else {
                step = ic.decompress(dec, wrapping_mul(kMultipleMin, last_step), 6);
                extreme(step);
            }
            advance(step);
        } else if (s == kMultipleFull) {
            full_time();
        } else {
            g.current = (g.current + s - kMultipleFull) & 3;
            continue;
        }
        break;
    }
    c.last.gps_bits = g.time[g.current];
}

}  // namespace korvane::laz
