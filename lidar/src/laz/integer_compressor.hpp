// LASzip's integer compressor: codes an integer as its difference (the corrector) from a
// prediction. First k, the bit length of the corrector's magnitude, in the context's model; then
// which of the 2^k correctors of that length it is: small differences cost few bits. `bits` is
// the width of the values (differences wrap within it), `contexts` the number of k models a
// caller chooses among, and only the top `bits_high` bits of a long corrector are modelled; the
// rest go raw.
#pragma once

#include <cstdint>
#include <vector>

#include "arithmetic_decoder.hpp"
#include "arithmetic_encoder.hpp"
#include "arithmetic_models.hpp"

namespace korvane::laz {

class IntegerCompressor {
  public:
    // `bits` from 1 to 32 (32: all of int32, wrapping); `range`, when not 0, replaces 2^bits as
    // the number of values.
    explicit IntegerCompressor(std::uint32_t bits = 16, std::uint32_t contexts = 1,
                               std::uint32_t bits_high = 8, std::uint32_t range = 0);

    // Back to the state of a new compressor.
    void reset();

    void compress(ArithmeticEncoder& enc, std::int32_t pred, std::int32_t real,
                  std::uint32_t context) {
        std::int32_t corr = static_cast<std::int32_t>(static_cast<std::uint32_t>(real) -
                                                      static_cast<std::uint32_t>(pred));
        if (corr < corr_min_)
            corr = static_cast<std::int32_t>(static_cast<std::uint32_t>(corr) + corr_range_);
        else if (corr > corr_max_)
            corr = static_cast<std::int32_t>(static_cast<std::uint32_t>(corr) - corr_range_);
        write_corrector(enc, corr, lengths_[context]);
    }

    std::int32_t decompress(ArithmeticDecoder& dec, std::int32_t pred, std::uint32_t context) {
        std::int32_t real = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(pred) +
            static_cast<std::uint32_t>(read_corrector(dec, lengths_[context])));
        if (real < 0)
            real = static_cast<std::int32_t>(static_cast<std::uint32_t>(real) + corr_range_);
        else if (static_cast<std::uint32_t>(real) >= corr_range_ && corr_range_ != 0)
            real = static_cast<std::int32_t>(static_cast<std::uint32_t>(real) - corr_range_);
        return real;
    }

    // The k of the last corrector coded or decoded: callers choose contexts by it.
    std::uint32_t k() const { return k_; }

  private:
    void write_corrector(ArithmeticEncoder& enc, std::int32_t c, SymbolModel& lengths);
    std::int32_t read_corrector(ArithmeticDecoder& dec, SymbolModel& lengths);

    std::uint32_t corr_bits_ = 0;
    std::uint32_t corr_range_ = 0;  // 0 for the full 32 bits
    std::int32_t corr_min_ = 0;
    std::int32_t corr_max_ = 0;
    std::uint32_t bits_high_ = 8;
    std::uint32_t k_ = 0;
    std::vector<SymbolModel> lengths_;     // per context: k, from 0 to corr_bits
    BitModel zero_or_one_;                 // the corrector when k is 0
    std::vector<SymbolModel> correctors_;  // [k - 1]: which corrector of length k
};

}  // namespace korvane::laz
