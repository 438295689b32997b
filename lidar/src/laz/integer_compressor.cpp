#include "integer_compressor.hpp"

#include <bit>
#include <limits>

namespace korvane::laz {

IntegerCompressor::IntegerCompressor(std::uint32_t bits, std::uint32_t contexts,
                                     std::uint32_t bits_high, std::uint32_t range)
    : bits_high_(bits_high) {
    if (range != 0) {
        corr_bits_ = static_cast<std::uint32_t>(std::bit_width(range));
        corr_range_ = range;
        if (corr_range_ == (1u << (corr_bits_ - 1))) --corr_bits_;
        corr_min_ = -static_cast<std::int32_t>(corr_range_ / 2);
        corr_max_ =
            static_cast<std::int32_t>(corr_min_ + static_cast<std::int32_t>(corr_range_ - 1));
    } else if (bits != 0 && bits < 32) {
        corr_bits_ = bits;
        corr_range_ = 1u << bits;
        corr_min_ = -static_cast<std::int32_t>(corr_range_ / 2);
        corr_max_ =
            static_cast<std::int32_t>(corr_min_ + static_cast<std::int32_t>(corr_range_ - 1));
    } else {
        corr_bits_ = 32;
        corr_range_ = 0;
        corr_min_ = std::numeric_limits<std::int32_t>::min();
        corr_max_ = std::numeric_limits<std::int32_t>::max();
    }
    lengths_.assign(contexts, SymbolModel(corr_bits_ + 1));
    for (std::uint32_t k = 1; k <= corr_bits_; ++k)
        correctors_.emplace_back(k <= bits_high_ ? 1u << k : 1u << bits_high_);
}

void IntegerCompressor::reset() {
    k_ = 0;
    for (SymbolModel& m : lengths_) m.reset();
    zero_or_one_.reset();
    for (SymbolModel& m : correctors_) m.reset();
}

void IntegerCompressor::write_corrector(ArithmeticEncoder& enc, std::int32_t c,
                                        SymbolModel& lengths) {
    // The tightest interval [-(2^k - 1), 2^k] that holds c.
    const std::uint32_t magnitude =
        c <= 0 ? 0u - static_cast<std::uint32_t>(c) : static_cast<std::uint32_t>(c) - 1;
    k_ = static_cast<std::uint32_t>(std::bit_width(magnitude));
    enc.encode_symbol(lengths, k_);
    if (k_ == 0) {
        enc.encode_bit(zero_or_one_, static_cast<std::uint32_t>(c));
        return;
    }
    if (k_ >= 32) return;  // only INT32_MIN has 32 bits of magnitude
    // Positive c lie in [2^(k-1) + 1, 2^k] and negative ones in [-(2^k - 1), -2^(k-1)]: one shift
    // maps both onto [0, 2^k - 1], negatives below, positives above.
    const std::uint32_t u = c < 0 ? static_cast<std::uint32_t>(c) + ((1u << k_) - 1)
                                  : static_cast<std::uint32_t>(c) - 1;
    SymbolModel& corrector = correctors_[k_ - 1];
    if (k_ <= bits_high_) {
        enc.encode_symbol(corrector, u);
    } else {
        const std::uint32_t raw = k_ - bits_high_;
        enc.encode_symbol(corrector, u >> raw);
        enc.write_bits(raw, u & ((1u << raw) - 1));
    }
}

std::int32_t IntegerCompressor::read_corrector(ArithmeticDecoder& dec, SymbolModel& lengths) {
    k_ = dec.decode_symbol(lengths);
    if (k_ == 0) return static_cast<std::int32_t>(dec.decode_bit(zero_or_one_));
    if (k_ >= 32) return corr_min_;
    SymbolModel& corrector = correctors_[k_ - 1];
    std::uint32_t u = 0;
    if (k_ <= bits_high_) {
        u = dec.decode_symbol(corrector);
    } else {
        const std::uint32_t raw = k_ - bits_high_;
        u = dec.decode_symbol(corrector) << raw;
        u |= dec.read_bits(raw);
    }
    const std::uint32_t c = u >= (1u << (k_ - 1)) ? u + 1 : u - ((1u << k_) - 1);
    return static_cast<std::int32_t>(c);
}

}  // namespace korvane::laz
