#include "arithmetic_models.hpp"

#include <algorithm>
#include <cassert>

namespace korvane::laz {

void SymbolModel::start() {
    const std::uint32_t n = symbols_;
    assert(n >= 2 && n <= 2048);
    if (counts_.empty()) {
        counts_.resize(n);
        low_.resize(n + 1);
        // A table of 2^b entries for b >= 3 narrows the search to a few symbols; small models
        // are searched whole.
        std::uint32_t bits = 0;
        if (n > 16) {
            bits = 3;
            while (n > (1u << (bits + 2))) ++bits;
        }
        table_shift_ = kSymbolLengthShift - bits;
        table_last_ = 1u << bits;
        table_.resize(table_last_ + 2);
    } else if (total_ == n && cycle_ == (n + 6) / 2 && countdown_ == cycle_) {
        // A model that has counted no symbol since it was last set up is still in that state
        // (after the first update total_ exceeds the symbol count for good, and every symbol
        // counted lowers the countdown): nothing to redo.
        ready_ = true;
        return;
    }
    std::fill(counts_.begin(), counts_.end(), 1u);
    total_ = 0;
    cycle_ = n;
    update();
    cycle_ = countdown_ = (n + 6) / 2;
    ready_ = true;
}

void SymbolModel::update() {
    // `total_` grows by one cycle's symbols, so it stays the sum of the counts. Halving rounds
    // up, so no count reaches 0 and every symbol keeps a share.
    total_ += cycle_;
    if (total_ > (1u << 15)) {
        total_ = 0;
        for (std::uint32_t& c : counts_) total_ += (c = (c + 1) / 2);
    }
    // low(k) = 2^15 * (counts before k) / total, rounded as the writers round: with
    // total <= 2^15 the product stays below 2^31.
    const std::uint32_t scale = 0x80000000u / total_;
    std::uint32_t before = 0;
    const std::uint32_t n = symbols();
    for (std::uint32_t k = 0; k < n; ++k) {
        low_[k] = (scale * before) >> (31 - kSymbolLengthShift);
        before += counts_[k];
    }
    low_[n] = 1u << kSymbolLengthShift;
    // table_[t]: the symbol whose share holds offset t << shift. An offset between t << shift
    // and (t + 1) << shift then lies in a symbol from table_[t] to table_[t + 1].
    std::uint32_t s = 0;
    for (std::uint32_t t = 0; t <= table_last_; ++t) {
        while (s + 1 < n && low_[s + 1] <= (t << table_shift_)) ++s;
        table_[t] = s;
    }
    table_[table_last_ + 1] = n - 1;
    cycle_ = std::min(5 * cycle_ / 4, (n + 6) * 8);
    countdown_ = cycle_;
}

void BitModel::update() {
    total_ += cycle_;
    if (total_ > (1u << 13)) {
        total_ = (total_ + 1) / 2;
        zeros_ = (zeros_ + 1) / 2;
        if (zeros_ == total_) ++total_;  // keeps p0 below 2^13, so a 1 stays codable
    }
    p0_ = (zeros_ * (0x80000000u / total_)) >> (31 - kBitLengthShift);
    cycle_ = std::min(5 * cycle_ / 4, 64u);
    countdown_ = cycle_;
}

}  // namespace korvane::laz
