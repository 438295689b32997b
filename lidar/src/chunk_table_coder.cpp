// The LAZ chunk table's coder: a 32-bit range coder (Amir Said's, with the adaptive models and
// the flush that LASzip's writers use) under an integer coder that sends each value as its
// difference from a prediction. Every step below must match those writers bit for bit, since
// a merged file's table is read by their decoders and theirs are read by ours.
#include "chunk_table_coder.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <utility>

namespace korvane {
namespace {

// The coder keeps its interval length at or above 2^24 by shifting out a byte whenever it
// falls below: the top byte of `base` can then no longer change except by a carry.
constexpr std::uint32_t kMinLength = 1u << 24;
constexpr std::uint32_t kMaxLength = 0xFFFFFFFFu;
constexpr int kSymbolShift = 15;  // symbol models split the interval in 2^15 parts
constexpr int kBitShift = 13;     // bit models split it in 2^13 parts

// Adaptive frequencies of `n` symbols. The counts are turned into a cumulative distribution
// (scaled to 2^15) only every `cycle` symbols, and the cycle grows, so that early symbols adapt
// the model quickly and later ones cheaply.
class SymbolModel {
  public:
    explicit SymbolModel(std::uint32_t n) : counts_(n, 1), low_(n), cycle_(n) {
        update();
        cycle_ = countdown_ = (n + 6) / 2;
    }

    std::uint32_t size() const { return static_cast<std::uint32_t>(low_.size()); }

    // The interval [lo, hi) of symbol s within an interval of `length`. The last symbol also
    // takes what the rounding of `unit` leaves over.
    std::pair<std::uint32_t, std::uint32_t> span_of(std::uint32_t s, std::uint32_t length) const {
        const std::uint32_t unit = length >> kSymbolShift;
        return {low_[s] * unit, s + 1 == size() ? length : low_[s + 1] * unit};
    }

    // The largest s whose interval starts at or before `offset`.
    std::uint32_t find(std::uint32_t offset, std::uint32_t length) const {
        const std::uint32_t unit = length >> kSymbolShift;
        const auto after = std::upper_bound(
            low_.begin() + 1, low_.end(), offset,
            [unit](std::uint32_t off, std::uint32_t low) { return off < low * unit; });
        return static_cast<std::uint32_t>(after - low_.begin()) - 1;
    }

    void record(std::uint32_t s) {
        ++counts_[s];
        if (--countdown_ == 0) update();
    }

  private:
    void update() {
        // `total_` grows by one cycle's symbols, so it stays the sum of the counts. Halving
        // rounds up, so no count reaches 0 and every symbol keeps a nonzero interval.
        total_ += cycle_;
        if (total_ > (1u << 15)) {
            total_ = 0;
            for (auto& c : counts_) total_ += (c = (c + 1) / 2);
        }
        // low(k) = 2^15 * (counts before k) / total, computed as in the writers: with
        // total <= 2^15 the product below is at most 2^31, and each symbol's share is >= 1.
        const std::uint32_t scale = 0x80000000u / total_;
        std::uint32_t before = 0;
        for (std::size_t k = 0; k < low_.size(); ++k) {
            low_[k] = (scale * before) >> (31 - kSymbolShift);
            before += counts_[k];
        }
        cycle_ = std::min(5 * cycle_ / 4, (size() + 6) * 8);
        countdown_ = cycle_;
    }

    std::vector<std::uint32_t> counts_;
    std::vector<std::uint32_t> low_;
    std::uint32_t total_ = 0;
    std::uint32_t cycle_;
    std::uint32_t countdown_ = 0;
};

// Adaptive probability of a 0 bit, scaled to 2^13.
class BitModel {
  public:
    std::uint32_t p0() const { return p0_; }

    void record(bool bit) {
        if (!bit) ++zeros_;
        if (--countdown_ == 0) update();
    }

  private:
    void update() {
        total_ += cycle_;
        if (total_ > (1u << 13)) {
            total_ = (total_ + 1) / 2;
            zeros_ = (zeros_ + 1) / 2;
            if (zeros_ == total_) ++total_;  // keeps p0 below 2^13, so a 1 stays codable
        }
        p0_ = (zeros_ * (0x80000000u / total_)) >> (31 - kBitShift);
        cycle_ = std::min(5 * cycle_ / 4, 64u);
        countdown_ = cycle_;
    }

    std::uint32_t zeros_ = 1;
    std::uint32_t total_ = 2;
    std::uint32_t p0_ = 1u << (kBitShift - 1);
    std::uint32_t cycle_ = 4;
    std::uint32_t countdown_ = 4;
};

class RangeEncoder {
  public:
    void encode_symbol(SymbolModel& m, std::uint32_t s) {
        const auto [lo, hi] = m.span_of(s, length_);
        narrow(lo, hi - lo);
        m.record(s);
    }

    void encode_bit(BitModel& m, bool bit) {
        const std::uint32_t split = m.p0() * (length_ >> kBitShift);
        if (bit) {
            narrow(split, length_ - split);
        } else {
            narrow(0, split);
        }
        m.record(bit);
    }

    // `bits` raw bits of `value`, all values equally likely. More than 19 bits at once would
    // leave less than 2^5 of length: the low 16 go first.
    void write_bits(std::uint32_t value, int bits) {
        if (bits > 19) {
            write_bits(value & 0xFFFFu, 16);
            value >>= 16;
            bits -= 16;
        }
        const std::uint32_t unit = length_ >> bits;
        narrow(value * unit, unit);
    }

    // Ends the stream with a point inside the final interval that has as few nonzero bytes
    // as possible, then pads with zeros: the decoder always holds 4 bytes ahead, so it then
    // reads exactly the bytes written here.
    std::vector<std::byte> finish() && {
        std::size_t padding = 0;
        if (length_ > 2 * kMinLength) {
            narrow(kMinLength, kMinLength / 2);  // shifts out 1 byte
            padding = 3;
        } else {
            narrow(kMinLength / 2, kMinLength >> 9);  // shifts out 2 bytes
            padding = 2;
        }
        out_.resize(out_.size() + padding, std::byte{0});
        return std::move(out_);
    }

  private:
    // Moves the interval to [base + offset, base + offset + length) and shifts out the bytes
    // that can no longer change.
    void narrow(std::uint32_t offset, std::uint32_t length) {
        const std::uint32_t old_base = base_;
        base_ += offset;
        if (base_ < old_base) carry();
        length_ = length;
        while (length_ < kMinLength) {
            out_.push_back(static_cast<std::byte>(base_ >> 24));
            base_ <<= 8;
            length_ <<= 8;
        }
    }

    // `base` overflowed: add 1 to the bytes already written, read as one big number. The
    // interval always lies below the first one, so some written byte is not 0xFF.
    void carry() {
        auto byte = out_.end();
        do {
            assert(byte != out_.begin());
            --byte;
            *byte = static_cast<std::byte>(static_cast<std::uint8_t>(*byte) + 1);
        } while (*byte == std::byte{0});
    }

    std::vector<std::byte> out_;
    std::uint32_t base_ = 0;
    std::uint32_t length_ = kMaxLength;
};

// Follows the encoder's interval: `value_` is the coded point's offset within it.
class RangeDecoder {
  public:
    explicit RangeDecoder(std::span<const std::byte> in) : in_(in) {
        for (int i = 0; i < 4; ++i) value_ = (value_ << 8) | next_byte();
    }

    bool short_of_bytes() const { return short_; }
    std::size_t consumed() const { return read_; }

    std::uint32_t decode_symbol(SymbolModel& m) {
        const std::uint32_t s = m.find(value_, length_);
        const auto [lo, hi] = m.span_of(s, length_);
        narrow(lo, hi - lo);
        m.record(s);
        return s;
    }

    bool decode_bit(BitModel& m) {
        const std::uint32_t split = m.p0() * (length_ >> kBitShift);
        const bool bit = value_ >= split;
        if (bit) {
            narrow(split, length_ - split);
        } else {
            narrow(0, split);
        }
        m.record(bit);
        return bit;
    }

    std::uint32_t read_bits(int bits) {
        if (bits > 19) {
            const std::uint32_t low = read_bits(16);
            return (read_bits(bits - 16) << 16) | low;
        }
        const std::uint32_t unit = length_ >> bits;
        const std::uint32_t v = value_ / unit;
        narrow(v * unit, unit);
        return v;
    }

  private:
    void narrow(std::uint32_t offset, std::uint32_t length) {
        value_ -= offset;
        length_ = length;
        while (length_ < kMinLength) {
            value_ = (value_ << 8) | next_byte();
            length_ <<= 8;
        }
    }

    std::uint32_t next_byte() {
        if (read_ == in_.size()) {
            short_ = true;
            return 0;
        }
        return static_cast<std::uint32_t>(in_[read_++]);
    }

    std::span<const std::byte> in_;
    std::size_t read_ = 0;
    bool short_ = false;
    std::uint32_t value_ = 0;
    std::uint32_t length_ = kMaxLength;
};

// Codes a 32-bit value as its difference c from a prediction, wrapping mod 2^32. First k, the
// bit length of c's magnitude (c - 1 for c > 0, -c otherwise), in the context's model; then
// which of the 2^k differences of that length it is. Small differences thus cost few bits.
class IntegerCoder {
  public:
    IntegerCoder() : lengths_{SymbolModel(33), SymbolModel(33)} {
        for (std::uint32_t k = 1; k <= 32; ++k) within_.emplace_back(k <= 8 ? 1u << k : 256u);
    }

    void encode(RangeEncoder& enc, std::uint32_t pred, std::uint32_t real, int context) {
        const auto c = static_cast<std::int32_t>(real - pred);
        const std::uint32_t magnitude =
            c <= 0 ? 0u - static_cast<std::uint32_t>(c) : static_cast<std::uint32_t>(c) - 1;
        const auto k = static_cast<std::uint32_t>(std::bit_width(magnitude));
        enc.encode_symbol(lengths_[context], k);
        if (k == 0) {
            enc.encode_bit(zero_or_one_, c == 1);
            return;
        }
        if (k == 32) return;  // only INT32_MIN has 32 bits of magnitude
        // Positive c lie in [2^(k-1) + 1, 2^k] and negative ones in [-(2^k - 1), -2^(k-1)]:
        // one shift maps both onto [0, 2^k - 1], negatives below, positives above.
        const std::uint32_t u = c < 0 ? static_cast<std::uint32_t>(c) + ((1u << k) - 1)
                                      : static_cast<std::uint32_t>(c) - 1;
        if (k <= 8) {
            enc.encode_symbol(within_[k - 1], u);
        } else {
            // Only the top 8 bits are worth modelling; the rest are close to uniform.
            const int raw = static_cast<int>(k) - 8;
            enc.encode_symbol(within_[k - 1], u >> raw);
            enc.write_bits(u & ((1u << raw) - 1), raw);
        }
    }

    std::uint32_t decode(RangeDecoder& dec, std::uint32_t pred, int context) {
        const std::uint32_t k = dec.decode_symbol(lengths_[context]);
        std::uint32_t c = 0;
        if (k == 0) {
            c = dec.decode_bit(zero_or_one_) ? 1 : 0;
        } else if (k == 32) {
            c = 0x80000000u;
        } else {
            std::uint32_t u = 0;
            if (k <= 8) {
                u = dec.decode_symbol(within_[k - 1]);
            } else {
                const int raw = static_cast<int>(k) - 8;
                u = dec.decode_symbol(within_[k - 1]) << raw;
                u |= dec.read_bits(raw);
            }
            c = u >= (1u << (k - 1)) ? u + 1 : u - ((1u << k) - 1);
        }
        return pred + c;
    }

  private:
    std::array<SymbolModel, 2> lengths_;  // k of point counts (0) and byte sizes (1)
    BitModel zero_or_one_;                // c when k == 0, shared by both contexts
    std::vector<SymbolModel> within_;     // [k - 1]: which difference of length k, shared
};

constexpr int kPointsContext = 0;
constexpr int kBytesContext = 1;

}  // namespace

std::vector<std::byte> encode_chunk_table(std::span<const LazChunk> chunks, bool variable) {
    if (chunks.empty()) return {};
    RangeEncoder enc;
    IntegerCoder ic;
    LazChunk previous;
    for (const LazChunk& chunk : chunks) {
        if (variable) ic.encode(enc, previous.points, chunk.points, kPointsContext);
        ic.encode(enc, previous.bytes, chunk.bytes, kBytesContext);
        previous = chunk;
    }
    return std::move(enc).finish();
}

std::optional<DecodedChunkTable> decode_chunk_table(std::span<const std::byte> coded,
                                                    std::uint32_t count, bool variable) {
    DecodedChunkTable table;
    if (count == 0) return table;
    RangeDecoder dec(coded);
    IntegerCoder ic;
    table.chunks.reserve(count);
    LazChunk previous;
    for (std::uint32_t i = 0; i < count && !dec.short_of_bytes(); ++i) {
        LazChunk chunk;
        if (variable) chunk.points = ic.decode(dec, previous.points, kPointsContext);
        chunk.bytes = ic.decode(dec, previous.bytes, kBytesContext);
        table.chunks.push_back(chunk);
        previous = chunk;
    }
    if (dec.short_of_bytes()) return std::nullopt;
    table.consumed = dec.consumed();
    return table;
}

// The coded size, bounded through how much each coded value can narrow the interval. Before
// each step the length is at least 2^24, and:
//   - a symbol keeps at least unit = floor(length / 2^15) (every count is >= 1 and the counts
//     total <= 2^15, so every symbol's share is >= 1): at most 15 + log2(1 / (1 - 2^-9)), under
//     15.003 bits;
//   - a bit keeps at least floor(length / 2^13) on either side (1 <= p0 < 2^13): under 13.001;
//   - j raw bits in one step keep floor(length / 2^j) with j <= 19: under j + 0.05 bits; more
//     than 19 go as 16 and then j - 16 <= 7, under j + 0.01 bits.
// A value costs k's symbol and then a bit, a symbol, or a symbol and k - 8 <= 23 raw bits, so
// at most 15.003 + 15.003 + 23.01 < 54 bits. Each byte shifted out widens the interval 2^8
// times and it never grows past its initial 2^32 - 1, so coding shifts out at most 54 / 8 < 7
// bytes per value. The flush then adds 4 bytes (1 or 2 shifted out, then 3 or 2 of padding).
std::uint64_t max_coded_chunk_table_bytes(std::uint32_t count, bool variable) {
    if (count == 0) return 0;
    const std::uint64_t values = std::uint64_t{count} * (variable ? 2 : 1);
    return 7 * values + 4;
}

}  // namespace korvane
