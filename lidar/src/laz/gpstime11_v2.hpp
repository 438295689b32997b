// The GPSTIME11 item, version 2: the 8-byte GPS time of point formats 1, 3, 4 and 5, coded as
// LASzip's chunked writers code it. Times are handled as the 64-bit integers of their bits, so any
// double (NaN, -0.0) comes back exactly.
//
// The coder follows up to four sequences of times (a scanner that interleaves pulses from more
// than one source jumps between them). Within a sequence it predicts the difference from the
// last one: a symbol says how many times the last difference the new one is (1 for a regular
// pulse rate, 2-499, -1 to -9, or "500 or more", "-10 or less", "0"), and an integer compressor
// codes what is left. A difference that does not fit 32 bits either switches to another sequence
// in which it does, or starts a new sequence with the full time. A run of four extreme
// multipliers makes the last difference the new reference.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "arithmetic_decoder.hpp"
#include "arithmetic_encoder.hpp"
#include "arithmetic_models.hpp"
#include "integer_compressor.hpp"

namespace korvane::laz {

inline constexpr std::size_t kGpsTime11Size = 8;

using GpsTimeBytes = std::span<const std::byte, kGpsTime11Size>;
using GpsTimeOut = std::span<std::byte, kGpsTime11Size>;

// The multiplier symbol of a time difference that fits 32 bits, as LASzip's writer chooses it:
// the quotient of the two differences in single precision, rounded half away from zero in double
// precision. A quotient of 2^31 or more (from differences near the ends of the 32-bit range) is
// taken as INT32_MIN, which is what x86-64 builds of the writers get from that conversion (and
// so is the quotient by a zero last difference, which the coder never asks for).
std::int32_t gps_time_multiplier(std::int32_t difference, std::int32_t last_difference);

class GpsTime11V2State {
  public:
    GpsTime11V2State();
    // A chunk starts with this time, stored raw.
    void start(GpsTimeBytes first);

  protected:
    static constexpr std::size_t kSequences = 4;

    SymbolModel multi_;      // after a nonzero difference: multipliers, unchanged, full, switch
    SymbolModel zero_diff_;  // after a zero difference: unchanged, small, full, switch
    IntegerCompressor ic_;
    std::array<std::uint64_t, kSequences> last_time_{};
    std::array<std::int32_t, kSequences> last_diff_{};
    std::array<std::uint32_t, kSequences> extremes_{};
    std::uint32_t last_ = 0;  // the sequence of the last time
    std::uint32_t next_ = 0;  // the sequence most recently started
};

class GpsTime11V2Encoder : public GpsTime11V2State {
  public:
    void encode(ArithmeticEncoder& enc, GpsTimeBytes record);

  private:
    // The first other sequence (1-3 steps on from the current one) within 32 bits of `time`, or 0.
    std::uint32_t near_sequence(std::uint64_t time) const;
    void start_sequence(ArithmeticEncoder& enc, std::uint64_t time);
    void encode_multiple(ArithmeticEncoder& enc, std::int32_t diff);
};

class GpsTime11V2Decoder : public GpsTime11V2State {
  public:
    void decode(ArithmeticDecoder& dec, GpsTimeOut record);
    // Whether the stream held what no writer writes (a second switch of sequence for one time).
    bool damaged() const { return damaged_; }
    void start(GpsTimeBytes first) {
        GpsTime11V2State::start(first);
        damaged_ = false;
    }

  private:
    void read_sequence(ArithmeticDecoder& dec);
    std::int32_t decode_multiple(ArithmeticDecoder& dec, std::uint32_t symbol);

    bool damaged_ = false;
};

}  // namespace korvane::laz
