#include "legacy_point_records.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace testing_support {
namespace {

using Random = std::mt19937;

struct Point {
    std::int32_t x = 1'000'000, y = 2'000'000, z = 30'000;
    std::uint16_t intensity = 300;
    std::uint8_t flags = 0x09;  // return 1 of 1
    std::uint8_t classification = 2;
    std::uint8_t scan_angle = 0;
    std::uint8_t user_data = 0;
    std::uint16_t source = 7;
    std::uint64_t time = std::bit_cast<std::uint64_t>(400'000.0);
    std::array<std::uint16_t, 3> rgb{0x4000, 0x4000, 0x4000};
    std::vector<std::uint8_t> extra;
};

std::int32_t pick(Random& rng, std::int32_t lo, std::int32_t hi) {
    return std::uniform_int_distribution<std::int32_t>(lo, hi)(rng);
}
bool chance(Random& rng, double p) {
    return std::bernoulli_distribution(p)(rng);
}
std::int32_t wrap_add(std::int32_t a, std::int64_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
std::uint64_t time_of(double t) {
    return std::bit_cast<std::uint64_t>(t);
}

// The walk every corner starts from: pulses of 1-4 returns, one GPS time per pulse.
class Walk {
  public:
    explicit Walk(const LegacyRecordsRecipe& recipe) : rng_(recipe.seed) {
        p_.extra.resize(recipe.extra_bytes);
        for (std::size_t i = 0; i < p_.extra.size(); ++i)
            p_.extra[i] = static_cast<std::uint8_t>(i * 37);
    }

    const Point& next(RecordCorner corner) {
        survey_step();
        if (corner == RecordCorner::Everything)
            corner = static_cast<RecordCorner>(pick(rng_, 0, 8));
        switch (corner) {
            case RecordCorner::Survey:
                break;
            case RecordCorner::Returns:
                p_.flags = static_cast<std::uint8_t>((p_.flags & 0xC0) | pick(rng_, 0, 63));
                break;
            case RecordCorner::GpsJumps:
                gps_jump();
                break;
            case RecordCorner::GpsOddValues:
                gps_odd();
                break;
            case RecordCorner::GpsSequences:
                gps_sequences();
                break;
            case RecordCorner::Colours:
                colours();
                break;
            case RecordCorner::Flags:
                flags();
                break;
            case RecordCorner::ExtremeCoordinates:
                extreme_coordinates();
                break;
            case RecordCorner::SourceAndUserData:
                source_and_user_data();
                break;
            case RecordCorner::Everything:
                break;
        }
        return p_;
    }

  private:
    void survey_step() {
        const std::uint32_t r = p_.flags & 7u;
        const std::uint32_t n = (p_.flags >> 3) & 7u;
        if (r >= 1 && r < n) {  // the next return of the same pulse: same time, lower
            p_.flags = static_cast<std::uint8_t>((p_.flags & ~7u) | (r + 1));
            p_.z = wrap_add(p_.z, -pick(rng_, 0, 400));
            p_.intensity = static_cast<std::uint16_t>(p_.intensity / 2);
        } else {  // a new pulse
            const std::int32_t returns = chance(rng_, 0.6) ? 1 : pick(rng_, 2, 4);
            p_.flags = static_cast<std::uint8_t>((p_.flags & 0xC0) | (returns << 3) | 1);
            if (chance(rng_, 0.01)) p_.flags ^= 0x40;   // scan direction
            if (chance(rng_, 0.002)) p_.flags ^= 0x80;  // edge of flight line
            p_.x = wrap_add(p_.x, pick(rng_, -40, 60));
            p_.y = wrap_add(p_.y, pick(rng_, -30, 30));
            p_.z = wrap_add(p_.z, pick(rng_, -50, 50) + (returns > 1 ? 600 : 0));
            p_.intensity =
                chance(rng_, 0.2) ? p_.intensity : static_cast<std::uint16_t>(pick(rng_, 0, 1200));
            p_.time = time_of(std::bit_cast<double>(p_.time) + 1.0e-5 * pick(rng_, 1, 3));
        }
        if (chance(rng_, 0.05)) p_.classification = static_cast<std::uint8_t>(pick(rng_, 1, 6));
        if (chance(rng_, 0.1)) p_.scan_angle = static_cast<std::uint8_t>(pick(rng_, -20, 20));
        if (chance(rng_, 0.001)) ++p_.source;
        if (chance(rng_, 0.7)) {
            for (std::uint16_t& c : p_.rgb)
                c = static_cast<std::uint16_t>(std::clamp(c + pick(rng_, -900, 900), 0, 65535));
        }
        for (std::size_t i = 0; i < p_.extra.size(); ++i) {
            if (i % 3 == 0) p_.extra[i] = static_cast<std::uint8_t>(p_.extra[i] + 1);
            if (i % 3 == 1 && chance(rng_, 0.3))
                p_.extra[i] = static_cast<std::uint8_t>(pick(rng_, 0, 255));
        }
    }

    void gps_jump() {
        double t = std::bit_cast<double>(p_.time);
        if (!std::isfinite(t)) t = 400'000.0;
        switch (pick(rng_, 0, 5)) {
            case 0:
                break;  // the same time again
            case 1:
                t -= 1.0e-5 * pick(rng_, 1, 50);
                break;
            case 2:
                t += pick(rng_, 100, 100'000);
                break;  // beyond 32 bits of the double's bits
            case 3:
                t -= pick(rng_, 100, 100'000);
                break;
            case 4:
                t *= chance(rng_, 0.5) ? 4.0 : 0.25;
                break;
            default:
                t += 1.0e-7;
                break;
        }
        p_.time = time_of(t);
    }

    // Differences of the times' bits chosen to hit each multiplier range, the multiplier that
    // does not fit 32 bits, and the ends of the 32-bit differences; and doubles that are not
    // numbers or are signed zeros.
    void gps_odd() {
        constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
        constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
        static constexpr std::int64_t kSteps[] = {
            1,     kMax, 1,   kMin, -1,    kMin, 3,     1500, 3,    -30, 3,    0,        -3,
            2'000, 2,    998, 2,    1'000, 2,    1'002, 7,    -63,  7,   -70,  7,        -77,
            5,     45,   5,   50,   kMax,  kMax, kMin,  kMin, kMax, -1,  kMax, kMax + 1, kMin - 1};
        static constexpr std::uint64_t kValues[] = {
            0x7FF8000000000000u,  // NaN
            0x7FF0000000000001u,  // signalling NaN
            0xFFF8000000000123u,  // negative NaN with a payload
            0x8000000000000000u,  // -0.0
            0x0000000000000000u,  // +0.0
            0x8000000000000000u,  // -0.0
            0x7FF0000000000000u,  // infinity
            0xFFF0000000000000u,  // -infinity
            0x0000000000000001u,  // the smallest subnormal
            0x7FEFFFFFFFFFFFFFu,  // the largest double
            0xFFFFFFFFFFFFFFFFu,  // all bits
        };
        if (chance(rng_, 0.3)) {
            p_.time = kValues[odd_value_++ % std::size(kValues)];
        } else {
            odd_time_ += static_cast<std::uint64_t>(kSteps[odd_step_++ % std::size(kSteps)]);
            p_.time = odd_time_;
        }
    }

    void gps_sequences() {
        static constexpr double kStarts[] = {1.0e3, 5.0e5, 2.0e8, 7.0e9, -3.0e4};
        const auto stream = static_cast<std::size_t>(pick(rng_, 0, 4));
        double& t = streams_[stream];
        if (t == 0) t = kStarts[stream];
        t += 1.0e-4 * pick(rng_, 0, 4);
        p_.time = time_of(t);
    }

    void colours() {
        auto& c = p_.rgb;
        switch (pick(rng_, 0, 7)) {
            case 0:
                c[1] = c[2] = c[0];
                break;  // grey
            case 1:
                c[0] ^= static_cast<std::uint16_t>(pick(rng_, 1, 255));
                break;  // low byte
            case 2:
                c[1] ^= static_cast<std::uint16_t>(pick(rng_, 1, 255) << 8);
                break;
            case 3:
                c = {0, 65535, 0};
                break;  // predictions clamp at both ends
            case 4:
                c = {65535, 0, 65535};
                break;
            case 5:
                c = {0, 0, 0};
                break;
            case 6:
                c[2] = static_cast<std::uint16_t>(pick(rng_, 0, 65535));
                break;
            default:
                for (std::uint16_t& v : c) v = static_cast<std::uint16_t>(pick(rng_, 0, 65535));
                break;
        }
    }

    void flags() {
        ++flag_step_;
        p_.flags = static_cast<std::uint8_t>(flag_step_);
        p_.classification = static_cast<std::uint8_t>(flag_step_ * 3);
        p_.scan_angle = static_cast<std::uint8_t>(flag_step_ * 5);
        p_.user_data = static_cast<std::uint8_t>(flag_step_ * 7);
    }

    void extreme_coordinates() {
        constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
        constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
        switch (pick(rng_, 0, 5)) {
            case 0:
                p_.x = kMax;
                p_.y = kMin;
                p_.z = kMax;
                break;
            case 1:
                p_.x = kMin;
                p_.y = kMax;
                p_.z = kMin;
                break;
            case 2:
                p_.x = wrap_add(p_.x, kMin);
                break;  // a difference of -2^31
            case 3:
                p_.y = wrap_add(p_.y, kMax);
                p_.z = wrap_add(p_.z, std::int64_t{pick(rng_, -3, 3)} + kMin);
                break;
            case 4:
                p_.x = wrap_add(p_.x, 1);
                p_.y = wrap_add(p_.y, -1);
                break;  // across the wrap
            default:
                p_.x = pick(rng_, kMin, kMax);
                p_.y = pick(rng_, kMin, kMax);
                p_.z = pick(rng_, kMin, kMax);
                break;
        }
    }

    void source_and_user_data() {
        if (chance(rng_, 0.5)) p_.user_data = static_cast<std::uint8_t>(pick(rng_, 0, 255));
        switch (pick(rng_, 0, 3)) {
            case 0:
                p_.source = 0;
                break;
            case 1:
                p_.source = 65535;
                break;
            case 2:
                p_.source = static_cast<std::uint16_t>(p_.source + pick(rng_, -3, 3));
                break;
            default:
                break;
        }
    }

    Random rng_;
    Point p_;
    std::uint64_t odd_time_ = time_of(1.0e5);  // the odd-value corner's own times
    std::array<double, 5> streams_{};
    std::size_t odd_step_ = 0;
    std::size_t odd_value_ = 0;
    std::uint32_t flag_step_ = 0;
};

template <typename T>
void put(std::vector<std::byte>& out, std::size_t at, T v) {
    std::memcpy(out.data() + at, &v, sizeof v);
}

}  // namespace

std::string corner_name(RecordCorner corner) {
    static const char* const kNames[] = {
        "survey",  "returns", "gps jumps",           "gps odd values",       "gps sequences",
        "colours", "flags",   "extreme coordinates", "source and user data", "everything"};
    return kNames[static_cast<std::size_t>(corner)];
}

std::size_t legacy_record_length(std::uint8_t format, std::uint16_t extra_bytes) {
    static constexpr std::size_t kBase[] = {20, 28, 26, 34};
    return kBase[format & 3u] + extra_bytes;
}

std::vector<std::byte> legacy_point_records(const LegacyRecordsRecipe& recipe) {
    const std::size_t length = legacy_record_length(recipe.format, recipe.extra_bytes);
    const bool gps = recipe.format == 1 || recipe.format == 3;
    const bool rgb = recipe.format == 2 || recipe.format == 3;
    const std::size_t rgb_at = gps ? 28 : 20;
    const std::size_t extra_at = length - recipe.extra_bytes;
    std::vector<std::byte> out(length * recipe.count);
    Walk walk(recipe);
    for (std::size_t i = 0; i < recipe.count; ++i) {
        const Point& p = walk.next(recipe.corner);
        const std::size_t at = i * length;
        put(out, at + 0, p.x);
        put(out, at + 4, p.y);
        put(out, at + 8, p.z);
        put(out, at + 12, p.intensity);
        put(out, at + 14, p.flags);
        put(out, at + 15, p.classification);
        put(out, at + 16, p.scan_angle);
        put(out, at + 17, p.user_data);
        put(out, at + 18, p.source);
        if (gps) put(out, at + 20, p.time);
        if (rgb)
            for (std::size_t c = 0; c < 3; ++c) put(out, at + rgb_at + 2 * c, p.rgb[c]);
        if (!p.extra.empty())
            std::memcpy(out.data() + at + extra_at, p.extra.data(), p.extra.size());
    }
    return out;
}

}  // namespace testing_support
