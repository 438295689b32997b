// The adaptive models of LASzip's arithmetic coder (Amir Said's range coder): a model of n
// symbols and a model of one bit. Both adapt to what they see, and both redo their sums only every
// so many symbols, on a cycle that lengthens, so that the first symbols of a chunk adapt them
// quickly and later ones cheaply. Every rule below must match LASzip's writers bit for bit: the
// coded bytes depend on each rounding.
#pragma once

#include <cstdint>
#include <vector>

namespace korvane::laz {

// A symbol model divides an interval into 2^15 parts; a bit model into 2^13.
inline constexpr int kSymbolLengthShift = 15;
inline constexpr int kBitLengthShift = 13;

// A model is set up when it is first used, not when it is made or reset: a chunk uses few of
// the many models its coders hold, so resetting them all for each chunk costs next to nothing.
class SymbolModel {
  public:
    // A model of `symbols` symbols, 2 to 2048 of them, each first equally likely.
    explicit SymbolModel(std::uint32_t symbols) : symbols_(symbols) {}

    // Back to the state of a new model: chunks are coded independently of each other.
    void reset() { ready_ = false; }

    // Called by the coder before each symbol: sets the model up if it is new or was reset.
    void prepare() {
        if (!ready_) start();
    }

    std::uint32_t symbols() const { return symbols_; }
    std::uint32_t last_symbol() const { return symbols_ - 1; }

    // The start of symbol s's share of 2^15, and the start of the next one (2^15 after the last).
    std::uint32_t low(std::uint32_t s) const { return low_[s]; }

    // The largest symbol whose share starts at or below `scaled` (an offset in units of
    // 1/2^15 of the interval).
    std::uint32_t find(std::uint32_t scaled) const {
        std::uint32_t t = scaled >> table_shift_;
        if (t > table_last_) t = table_last_;
        std::uint32_t s = table_[t];
        std::uint32_t n = table_[t + 1] + 1;
        while (n > s + 1) {
            const std::uint32_t k = (s + n) >> 1;
            if (low_[k] > scaled)
                n = k;
            else
                s = k;
        }
        return s;
    }

    // Counts one more s, and redoes the shares when the cycle ends.
    void record(std::uint32_t s) {
        ++counts_[s];
        if (--countdown_ == 0) update();
    }

  private:
    void start();
    void update();

    std::uint32_t symbols_;
    bool ready_ = false;
    std::vector<std::uint32_t> counts_;
    std::vector<std::uint32_t> low_;    // symbols + 1 entries, the last 2^15
    std::vector<std::uint32_t> table_;  // first candidate symbol by the top bits of an offset
    std::uint32_t table_shift_ = 0;
    std::uint32_t table_last_ = 0;
    std::uint32_t total_ = 0;
    std::uint32_t cycle_ = 0;
    std::uint32_t countdown_ = 0;
};

// The probability of a 0 bit, scaled to 2^13.
class BitModel {
  public:
    void reset() { *this = BitModel(); }

    std::uint32_t p0() const { return p0_; }

    void record(std::uint32_t bit) {
        if (bit == 0) ++zeros_;
        if (--countdown_ == 0) update();
    }

  private:
    void update();

    std::uint32_t zeros_ = 1;
    std::uint32_t total_ = 2;
    std::uint32_t p0_ = 1u << (kBitLengthShift - 1);
    std::uint32_t cycle_ = 4;
    std::uint32_t countdown_ = 4;
};

}  // namespace korvane::laz
