#include "extended_point_records.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace testing_support {
namespace {

using Random = std::mt19937;

std::uint32_t below(Random& rng, std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng);
}
bool chance(Random& rng, double p) {
    return std::bernoulli_distribution(p)(rng);
}

template <typename T>
void put(std::vector<std::byte>& out, std::size_t at, T v) {
    std::memcpy(out.data() + at, &v, sizeof v);
}

std::size_t colour_bytes(std::uint8_t format) {
    return format == 8 ? 8 : format == 7 ? 6 : 0;
}

// The order in which channel_changes visits scanner channels: new ones, then back to used ones,
// and steps of 1, 2 and 3 channels both ways.
constexpr std::uint8_t kChannelTour[] = {0, 2, 2, 1, 0, 3, 1, 1, 2, 0, 0, 3, 3, 2};

}  // namespace

std::size_t extended_record_length(std::uint8_t format, std::uint16_t extra_bytes) {
    return 30 + colour_bytes(format) + extra_bytes;
}

std::vector<std::byte> make_extended_records(const ExtendedRecordRecipe& r) {
    const std::size_t length = extended_record_length(r.format, r.extra_bytes);
    std::vector<std::byte> out(length * r.points);
    Random rng(r.seed);

    std::int32_t x =
        r.extreme_coordinates ? std::numeric_limits<std::int32_t>::max() - 5000 : 100000;
    std::int32_t y =
        r.extreme_coordinates ? std::numeric_limits<std::int32_t>::min() + 5000 : -2000;
    std::int32_t z = r.extreme_coordinates ? std::numeric_limits<std::int32_t>::max() - 10 : 5000;
    double gps = 3.0e5;
    std::uint32_t returns = 1;
    std::uint32_t number = 1;
    std::uint8_t class_flags = 0;
    std::uint8_t classification = 2;
    std::uint8_t user_data = 0;
    std::int16_t scan_angle = 0;
    std::uint16_t source = 7;
    std::uint16_t intensity = 300;
    std::uint8_t scan_direction = 0;
    std::size_t tour = 0;
    std::uint32_t channel = 0;
    std::uint16_t red = 0x1234;
    std::uint16_t green = 0x2345;
    std::uint16_t blue = 0x3456;
    std::uint16_t nir = 0x8000;
    std::vector<double> old_times;  // for returns to an earlier time sequence

    for (std::uint32_t i = 0; i < r.points; ++i) {
        const std::size_t at = i * length;
        // A new pulse after its last return.
        const bool new_pulse = number >= returns || r.any_returns;
        if (r.any_returns) {
            returns = below(rng, 16);
            number = below(rng, 16);
        } else if (new_pulse) {
            returns = 1 + below(rng, 5);
            number = 1;
        } else {
            ++number;
        }

        if (r.extreme_coordinates) {
            // Steps of up to 2^31 that wrap around, and small ones in between.
            const bool big = chance(rng, 0.2);
            x = static_cast<std::int32_t>(static_cast<std::uint32_t>(x) +
                                          (big ? rng() : below(rng, 64)));
            y = static_cast<std::int32_t>(static_cast<std::uint32_t>(y) -
                                          (big ? rng() : below(rng, 64)));
            z = static_cast<std::int32_t>(static_cast<std::uint32_t>(z) +
                                          (big ? rng() : below(rng, 16)));
        } else {
            x += static_cast<std::int32_t>(below(rng, 40)) - (i % 400 == 399 ? 16000 : 0);
            y += static_cast<std::int32_t>(below(rng, 21)) - 10;
            z += static_cast<std::int32_t>(below(rng, 101)) - 50;
        }

        if (!r.constant) {
            if (new_pulse) {
                gps += chance(rng, 0.9) ? 1.0e-5 : 1.0e-5 * (2 + below(rng, 700));
                if (chance(rng, 0.05)) gps -= 3.0e-5;  // a step back
            }
            if (r.gps_jumps && chance(rng, 0.03)) {
                const std::uint32_t kind = below(rng, 5);
                if (kind == 0) {
                    old_times.push_back(gps);
                    gps += 1.0e6 * (1 + below(rng, 100));  // far beyond 32 bits
                } else if (kind == 1) {
                    old_times.push_back(gps);
                    gps = -gps;
                } else if (kind == 2 && !old_times.empty()) {
                    gps = old_times[below(rng, static_cast<std::uint32_t>(old_times.size()))];
                } else if (kind == 3) {
                    gps = std::numeric_limits<double>::quiet_NaN();
                } else {
                    gps = std::ldexp(1.0, static_cast<int>(below(rng, 60)) - 30);
                }
            } else if (std::isnan(gps) && chance(rng, 0.5)) {
                gps = 4.0e5;  // NaN for a run of points, then a time again
            }
            if (r.busy_attributes || chance(rng, 0.01))
                class_flags = static_cast<std::uint8_t>(rng() & 0x0F);
            if (r.busy_attributes || chance(rng, 0.02))
                scan_direction = static_cast<std::uint8_t>(rng() & 0x03);
            if (r.busy_attributes ? chance(rng, 0.5) : chance(rng, 0.05))
                classification =
                    static_cast<std::uint8_t>(r.busy_attributes ? rng() : 1 + below(rng, 9));
            if (r.busy_attributes ? chance(rng, 0.5) : chance(rng, 0.01))
                user_data = static_cast<std::uint8_t>(rng());
            if (r.busy_attributes ? chance(rng, 0.5) : new_pulse && chance(rng, 0.2))
                scan_angle = static_cast<std::int16_t>(
                    r.busy_attributes ? rng() : scan_angle + below(rng, 7) - 3);
            if (chance(rng, r.busy_attributes ? 0.1 : 0.002))
                source = static_cast<std::uint16_t>(rng());
            intensity = static_cast<std::uint16_t>(
                r.busy_attributes ? rng() : intensity + below(rng, 61) - 30);
        }
        if (r.channel_changes && chance(rng, 0.05)) {
            tour = (tour + 1) % std::size(kChannelTour);
            channel = kChannelTour[tour];
        }
        if (r.gps_jumps && i % 1000 >= 500 && i % 1000 < 503) {
            // A new time sequence, a step of 1 in the times' bits, then one of 2^31 - 1: a
            // multiple of the last step past int32.
            const std::uint64_t steps[] = {std::uint64_t{1} << 40, 1, 0x7FFFFFFF};
            gps = std::bit_cast<double>(std::bit_cast<std::uint64_t>(gps) + steps[i % 1000 - 500]);
        }
        double time = gps;
        if (r.negative_zero_times && i % 50 >= 20 && i % 50 < 24) time = i % 50 == 20 ? 0.0 : -0.0;

        put(out, at + 0, x);
        put(out, at + 4, y);
        put(out, at + 8, z);
        put(out, at + 12, intensity);
        put(out, at + 14, static_cast<std::uint8_t>((number & 0x0F) | (returns << 4)));
        put(out, at + 15,
            static_cast<std::uint8_t>(class_flags | (channel << 4) | (scan_direction << 6)));
        put(out, at + 16, classification);
        put(out, at + 17, user_data);
        put(out, at + 18, scan_angle);
        put(out, at + 20, source);
        put(out, at + 22, time);

        std::size_t next = 30;
        if (r.format >= 7) {
            if (!r.constant) {
                const bool grey = r.grey_stretches && (i / 300) % 2 == 0;
                const std::uint32_t change = below(rng, 8);
                if (change & 1) red = static_cast<std::uint16_t>(red + below(rng, 9) - 4);
                if (change & 2) red = static_cast<std::uint16_t>(red ^ (below(rng, 256) << 8));
                if (change & 4) green = static_cast<std::uint16_t>(green + below(rng, 513) - 256);
                if (chance(rng, 0.3)) blue = static_cast<std::uint16_t>(rng());
                if (grey) green = blue = red;
                if (r.grey_stretches && !grey && chance(rng, 0.3))
                    green = red;  // only blue differs
            }
            // A constant colour has a layer of its own unless it is grey.
            if (r.constant) green = blue = red;
            put(out, at + 30, red);
            put(out, at + 32, green);
            put(out, at + 34, blue);
            next += 6;
        }
        if (r.format == 8) {
            if (!r.constant && chance(rng, 0.6))
                nir =
                    static_cast<std::uint16_t>(chance(rng, 0.5) ? nir + below(rng, 5) - 2 : rng());
            put(out, at + 36, nir);
            next += 2;
        }
        // Extra bytes: the first stays constant, the second changes now and then, the rest often.
        for (std::uint16_t b = 0; b < r.extra_bytes; ++b) {
            std::uint8_t v = static_cast<std::uint8_t>(0xA0 + b);
            if (!r.constant && b == 1) v = static_cast<std::uint8_t>(i / 100);
            if (!r.constant && b >= 2) v = static_cast<std::uint8_t>(chance(rng, 0.5) ? rng() : b);
            out[at + next + b] = static_cast<std::byte>(v);
        }
    }
    return out;
}

std::vector<std::byte> expected_v3_records(const std::vector<std::byte>& records,
                                           std::size_t record_length) {
    std::vector<std::byte> out = records;
    std::uint64_t last = 0;
    for (std::size_t at = 0; at + record_length <= out.size(); at += record_length) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, out.data() + at + 22, 8);
        if (at > 0 && bits != last && std::bit_cast<double>(bits) == std::bit_cast<double>(last)) {
            bits = last;
            std::memcpy(out.data() + at + 22, &bits, 8);
        }
        last = bits;
    }
    return out;
}

}  // namespace testing_support
