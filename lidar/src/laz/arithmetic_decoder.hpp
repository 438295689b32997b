// LASzip's arithmetic decoder: follows the encoder's interval, holding in `value` the coded
// point's offset within it. It never reads past the bytes it is given: a stream that ends too
// soon reads as zero bytes and is flagged, so a caller checks `overrun()` and refuses the chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "arithmetic_models.hpp"

namespace korvane::laz {

class ArithmeticDecoder {
  public:
    ArithmeticDecoder() = default;
    explicit ArithmeticDecoder(std::span<const std::byte> in) { reset(in); }

    // Starts decoding `in`, which must outlive the decoding.
    void reset(std::span<const std::byte> in) {
        in_ = in;
        read_ = 0;
        overrun_ = false;
        length_ = kMaxLength;
        value_ = 0;
        for (int i = 0; i < 4; ++i) value_ = (value_ << 8) | next_byte();
    }

    // Whether the decoder needed more bytes than it was given.
    bool overrun() const { return overrun_; }
    // Bytes taken from the input so far (4 ahead of what has been decoded).
    std::size_t consumed() const { return read_; }

    std::uint32_t decode_symbol(SymbolModel& m) {
        m.prepare();
        const std::uint32_t unit = length_ >> kSymbolLengthShift;
        const std::uint32_t s = m.find(value_ / unit);
        const std::uint32_t lo = m.low(s) * unit;
        const std::uint32_t hi = s == m.last_symbol() ? length_ : m.low(s + 1) * unit;
        narrow(lo, hi - lo);
        m.record(s);
        return s;
    }

    std::uint32_t decode_bit(BitModel& m) {
        const std::uint32_t split = m.p0() * (length_ >> kBitLengthShift);
        std::uint32_t bit = 0;
        if (value_ < split) {
            narrow(0, split);
        } else {
            narrow(split, length_ - split);
            bit = 1;
        }
        m.record(bit);
        return bit;
    }

    // `bits` (1 to 32) raw bits, as ArithmeticEncoder::write_bits wrote them.
    std::uint32_t read_bits(std::uint32_t bits) {
        if (bits > 19) {
            const std::uint32_t low = read_short();
            return (read_bits(bits - 16) << 16) | low;
        }
        const std::uint32_t unit = length_ >> bits;
        const std::uint32_t v = value_ / unit;
        narrow(v * unit, unit);
        return v;
    }
    std::uint32_t read_short() {
        const std::uint32_t unit = length_ >> 16;
        const std::uint32_t v = value_ / unit;
        narrow(v * unit, unit);
        return v;
    }
    std::uint32_t read_int() {
        const std::uint32_t low = read_short();
        return (read_short() << 16) | low;
    }
    std::uint64_t read_int64() {
        const std::uint64_t low = read_int();
        return (std::uint64_t{read_int()} << 32) | low;
    }

  private:
    static constexpr std::uint32_t kMinLength = 1u << 24;
    static constexpr std::uint32_t kMaxLength = 0xFFFFFFFFu;

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
            overrun_ = true;
            return 0;
        }
        return static_cast<std::uint32_t>(in_[read_++]);
    }

    std::span<const std::byte> in_;
    std::size_t read_ = 0;
    bool overrun_ = false;
    std::uint32_t value_ = 0;
    std::uint32_t length_ = kMaxLength;
};

}  // namespace korvane::laz
