#include "gpstime11_v2.hpp"

#include <limits>

#include "las/byte_order.hpp"

namespace korvane::laz {
namespace {

// Symbols of the multiplier model: 0 to 499 the multiplier itself (0: much smaller than the last
// difference), 500 for 500 or more, 500 - m for -1 >= m > -10, 510 for -10 or less, then:
constexpr std::int32_t kMultiMax = 500;
constexpr std::int32_t kMultiMin = -10;
constexpr std::uint32_t kUnchanged = kMultiMax - kMultiMin + 1;  // 511: the same time again
constexpr std::uint32_t kFullTime = kUnchanged + 1;              // 512: a new sequence
// 513-515: switch 1-3 sequences on.
constexpr std::uint32_t kMultiSymbols = kFullTime + 4;

// Symbols of the zero-difference model: the same time again, a 32-bit difference, a new
// sequence, switch 1-3 sequences on.
constexpr std::uint32_t kZeroUnchanged = 0;
constexpr std::uint32_t kZeroSmall = 1;
constexpr std::uint32_t kZeroFullTime = 2;
constexpr std::uint32_t kZeroSymbols = 6;

// Contexts of the integer compressor.
constexpr std::uint32_t kFirstDiffContext = 0;
constexpr std::uint32_t kRegularContext = 1;
constexpr std::uint32_t kSmallMultiContext = 2;  // 2-9
constexpr std::uint32_t kLargeMultiContext = 3;  // 10-499
constexpr std::uint32_t kMaxMultiContext = 4;
constexpr std::uint32_t kNegativeContext = 5;  // -1 to -9
constexpr std::uint32_t kMinMultiContext = 6;
constexpr std::uint32_t kZeroMultiContext = 7;
constexpr std::uint32_t kHighWordContext = 8;

// After this many extreme multipliers in a row the last difference is replaced.
constexpr std::uint32_t kExtremeRun = 3;

std::int32_t wrapping_mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// The difference of two times' bits when it fits 32 bits.
bool small_difference(std::uint64_t time, std::uint64_t from, std::int32_t& diff) {
    const auto d = static_cast<std::int64_t>(time - from);
    if (d < std::numeric_limits<std::int32_t>::min() ||
        d > std::numeric_limits<std::int32_t>::max())
        return false;
    diff = static_cast<std::int32_t>(d);
    return true;
}

std::int32_t high_word(std::uint64_t time) {
    return static_cast<std::int32_t>(time >> 32);
}

}  // namespace

std::int32_t gps_time_multiplier(std::int32_t difference, std::int32_t last_difference) {
    const float quotient = static_cast<float>(difference) / static_cast<float>(last_difference);
    const double rounded =
        quotient >= 0 ? static_cast<double>(quotient) + 0.5 : static_cast<double>(quotient) - 0.5;
    // Of two nonzero 32-bit differences only the positive end can leave the range (the smallest
    // quotient is -2^31); the test is written to take a zero last difference too, as x86 does.
    if (!(rounded > -2147483649.0 && rounded < 2147483648.0))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(rounded);
}

GpsTime11V2State::GpsTime11V2State()
    : multi_(kMultiSymbols), zero_diff_(kZeroSymbols), ic_(32, 9) {}

void GpsTime11V2State::start(GpsTimeBytes first) {
    multi_.reset();
    zero_diff_.reset();
    ic_.reset();
    last_time_ = {get_le<std::uint64_t>(first, 0), 0, 0, 0};
    last_diff_.fill(0);
    extremes_.fill(0);
    last_ = 0;
    next_ = 0;
}

std::uint32_t GpsTime11V2Encoder::near_sequence(std::uint64_t time) const {
    std::int32_t ignored = 0;
    for (std::uint32_t step = 1; step < kSequences; ++step)
        if (small_difference(time, last_time_[(last_ + step) & 3u], ignored)) return step;
    return 0;
}

void GpsTime11V2Encoder::start_sequence(ArithmeticEncoder& enc, std::uint64_t time) {
    ic_.compress(enc, high_word(last_time_[last_]), high_word(time), kHighWordContext);
    enc.write_int(static_cast<std::uint32_t>(time));
    next_ = (next_ + 1) & 3u;
    last_ = next_;
    last_diff_[last_] = 0;
    extremes_[last_] = 0;
    last_time_[last_] = time;
}

void GpsTime11V2Encoder::encode_multiple(ArithmeticEncoder& enc, std::int32_t diff) {
    const std::int32_t last_diff = last_diff_[last_];
    const std::int32_t multi = gps_time_multiplier(diff, last_diff);
    bool extreme = false;
    if (multi == 1) {
        enc.encode_symbol(multi_, 1);
        ic_.compress(enc, last_diff, diff, kRegularContext);
        extremes_[last_] = 0;
    } else if (multi > 1 && multi < kMultiMax) {
        enc.encode_symbol(multi_, static_cast<std::uint32_t>(multi));
        ic_.compress(enc, wrapping_mul(multi, last_diff), diff,
                     multi < 10 ? kSmallMultiContext : kLargeMultiContext);
    } else if (multi >= kMultiMax) {
        enc.encode_symbol(multi_, kMultiMax);
        ic_.compress(enc, wrapping_mul(kMultiMax, last_diff), diff, kMaxMultiContext);
        extreme = true;
    } else if (multi < 0 && multi > kMultiMin) {
        enc.encode_symbol(multi_, static_cast<std::uint32_t>(kMultiMax - multi));
        ic_.compress(enc, wrapping_mul(multi, last_diff), diff, kNegativeContext);
    } else if (multi < 0) {
        enc.encode_symbol(multi_, static_cast<std::uint32_t>(kMultiMax - kMultiMin));
        ic_.compress(enc, wrapping_mul(kMultiMin, last_diff), diff, kMinMultiContext);
        extreme = true;
    } else {
        enc.encode_symbol(multi_, 0);
        ic_.compress(enc, 0, diff, kZeroMultiContext);
        extreme = true;
    }
    if (extreme && ++extremes_[last_] > kExtremeRun) {
        last_diff_[last_] = diff;
        extremes_[last_] = 0;
    }
}

void GpsTime11V2Encoder::encode(ArithmeticEncoder& enc, GpsTimeBytes record) {
    const std::uint64_t time = get_le<std::uint64_t>(record, 0);
    // A switch of sequence codes the time again in the sequence switched to, where its
    // difference fits 32 bits: this runs at most twice.
    for (;;) {
        const bool after_zero = last_diff_[last_] == 0;
        SymbolModel& model = after_zero ? zero_diff_ : multi_;
        if (time == last_time_[last_]) {
            enc.encode_symbol(model, after_zero ? kZeroUnchanged : kUnchanged);
            return;
        }
        std::int32_t diff = 0;
        if (small_difference(time, last_time_[last_], diff)) {
            if (after_zero) {
                enc.encode_symbol(zero_diff_, kZeroSmall);
                ic_.compress(enc, 0, diff, kFirstDiffContext);
                last_diff_[last_] = diff;
                extremes_[last_] = 0;
            } else {
                encode_multiple(enc, diff);
            }
            last_time_[last_] = time;
            return;
        }
        if (const std::uint32_t step = near_sequence(time); step != 0) {
            enc.encode_symbol(model, (after_zero ? kZeroFullTime : kFullTime) + step);
            last_ = (last_ + step) & 3u;
            continue;
        }
        enc.encode_symbol(model, after_zero ? kZeroFullTime : kFullTime);
        start_sequence(enc, time);
        return;
    }
}

void GpsTime11V2Decoder::read_sequence(ArithmeticDecoder& dec) {
    next_ = (next_ + 1) & 3u;
    const auto high = static_cast<std::uint32_t>(
        ic_.decompress(dec, high_word(last_time_[last_]), kHighWordContext));
    last_time_[next_] = (std::uint64_t{high} << 32) | dec.read_int();
    last_ = next_;
    last_diff_[last_] = 0;
    extremes_[last_] = 0;
}

std::int32_t GpsTime11V2Decoder::decode_multiple(ArithmeticDecoder& dec, std::uint32_t symbol) {
    const std::int32_t last_diff = last_diff_[last_];
    std::int32_t diff = 0;
    bool extreme = false;
    if (symbol == 1) {
        diff = ic_.decompress(dec, last_diff, kRegularContext);
        extremes_[last_] = 0;
    } else if (symbol == 0) {
        diff = ic_.decompress(dec, 0, kZeroMultiContext);
        extreme = true;
    } else if (symbol < static_cast<std::uint32_t>(kMultiMax)) {
        const auto multi = static_cast<std::int32_t>(symbol);
        diff = ic_.decompress(dec, wrapping_mul(multi, last_diff),
                              multi < 10 ? kSmallMultiContext : kLargeMultiContext);
    } else if (symbol == static_cast<std::uint32_t>(kMultiMax)) {
        diff = ic_.decompress(dec, wrapping_mul(kMultiMax, last_diff), kMaxMultiContext);
        extreme = true;
    } else {
        const std::int32_t multi = kMultiMax - static_cast<std::int32_t>(symbol);  // -1 to -10
        if (multi > kMultiMin) {
            diff = ic_.decompress(dec, wrapping_mul(multi, last_diff), kNegativeContext);
        } else {
            diff = ic_.decompress(dec, wrapping_mul(kMultiMin, last_diff), kMinMultiContext);
            extreme = true;
        }
    }
    if (extreme && ++extremes_[last_] > kExtremeRun) {
        last_diff_[last_] = diff;
        extremes_[last_] = 0;
    }
    return diff;
}

void GpsTime11V2Decoder::decode(ArithmeticDecoder& dec, GpsTimeOut record) {
    for (bool switched = false;;) {
        std::uint32_t step = 0;
        if (last_diff_[last_] == 0) {
            const std::uint32_t symbol = dec.decode_symbol(zero_diff_);
            if (symbol == kZeroSmall) {
                const std::int32_t diff = ic_.decompress(dec, 0, kFirstDiffContext);
                last_diff_[last_] = diff;
                last_time_[last_] += static_cast<std::uint64_t>(static_cast<std::int64_t>(diff));
                extremes_[last_] = 0;
            } else if (symbol == kZeroFullTime) {
                read_sequence(dec);
            } else if (symbol > kZeroFullTime) {
                step = symbol - kZeroFullTime;
            }
        } else {
            const std::uint32_t symbol = dec.decode_symbol(multi_);
            if (symbol < kUnchanged) {
                const std::int32_t diff = decode_multiple(dec, symbol);
                last_time_[last_] += static_cast<std::uint64_t>(static_cast<std::int64_t>(diff));
            } else if (symbol == kFullTime) {
                read_sequence(dec);
            } else if (symbol > kFullTime) {
                step = symbol - kFullTime;
            }
        }
        if (step == 0) break;
        // A writer switches at most once per time, to a sequence where the time is near.
        if (switched) {
            damaged_ = true;
            break;
        }
        switched = true;
        last_ = (last_ + step) & 3u;
    }
    put_le(record, 0, last_time_[last_]);
}

}  // namespace korvane::laz
