// LASzip's arithmetic encoder: a 32-bit range coder that narrows an interval [base, base +
// length) for each coded symbol and shifts out the top byte of `base` whenever `length` falls
// below 2^24. A carry out of `base` adds 1 to the bytes already written, so the output is kept in
// memory until the stream ends. Chunks are small: one encoder codes one chunk (or one layer of
// one), then is reset for the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "arithmetic_models.hpp"

namespace korvane::laz {

class ArithmeticEncoder {
  public:
    // Starts a new stream, keeping the memory of the last one.
    void reset() {
        out_.clear();
        base_ = 0;
        length_ = kMaxLength;
    }

    void encode_symbol(SymbolModel& m, std::uint32_t s) {
        m.prepare();
        const std::uint32_t unit = length_ >> kSymbolLengthShift;
        const std::uint32_t lo = m.low(s) * unit;
        const std::uint32_t hi = s == m.last_symbol() ? length_ : m.low(s + 1) * unit;
        narrow(lo, hi - lo);
        m.record(s);
    }

    void encode_bit(BitModel& m, std::uint32_t bit) {
        const std::uint32_t split = m.p0() * (length_ >> kBitLengthShift);
        if (bit == 0)
            narrow(0, split);
        else
            narrow(split, length_ - split);
        m.record(bit);
    }

    // `bits` (1 to 32) raw bits of `value`, every value equally likely. More than 19 at once
    // would leave too little of the interval: the low 16 go first, as a short.
    void write_bits(std::uint32_t bits, std::uint32_t value) {
        if (bits > 19) {
            write_short(value & 0xFFFFu);
            value >>= 16;
            bits -= 16;
        }
        const std::uint32_t unit = length_ >> bits;
        narrow(value * unit, unit);
    }
    void write_short(std::uint32_t value) {
        const std::uint32_t unit = length_ >> 16;
        narrow(value * unit, unit);
    }
    void write_int(std::uint32_t value) {
        write_short(value & 0xFFFFu);
        write_short(value >> 16);
    }
    void write_int64(std::uint64_t value) {
        write_int(static_cast<std::uint32_t>(value));
        write_int(static_cast<std::uint32_t>(value >> 32));
    }

    // Ends the stream as LASzip's writers do and returns its bytes, which stay valid until the
    // next reset. The decoder reads exactly these bytes.
    const std::vector<std::byte>& finish();

    // Bytes shifted out so far.
    std::size_t size() const { return out_.size(); }

  private:
    static constexpr std::uint32_t kMinLength = 1u << 24;
    static constexpr std::uint32_t kMaxLength = 0xFFFFFFFFu;

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

    void carry();

    std::vector<std::byte> out_;
    std::uint32_t base_ = 0;
    std::uint32_t length_ = kMaxLength;
};

}  // namespace korvane::laz
