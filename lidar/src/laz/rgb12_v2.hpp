// The RGB12 item, version 2: the red, green and blue of point formats 2, 3 and 5 (16 bits each),
// coded as LASzip's chunked writers code them. A 7-bit symbol says which of the six bytes changed
// and whether the colour is a grey (all three equal); a changed byte is coded as its difference
// from a prediction: red from the last red, green and blue from their last values moved by how
// much red (and, for blue, green) moved.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "arithmetic_decoder.hpp"
#include "arithmetic_encoder.hpp"
#include "arithmetic_models.hpp"

namespace korvane::laz {

inline constexpr std::size_t kRgb12Size = 6;

using Rgb12Bytes = std::span<const std::byte, kRgb12Size>;
using Rgb12Out = std::span<std::byte, kRgb12Size>;

class Rgb12V2State {
  public:
    Rgb12V2State();
    // A chunk starts with this colour, stored raw.
    void start(Rgb12Bytes first);

  protected:
    SymbolModel
        changed_;  // bits 0-5: bytes that changed (low then high of r, g, b); bit 6: not grey
    // Differences: [0] low and [1] high byte of red, [2]/[3] of green, [4]/[5] of blue.
    std::array<SymbolModel, 6> diff_;
    std::array<std::uint16_t, 3> last_{};
};

class Rgb12V2Encoder : public Rgb12V2State {
  public:
    void encode(ArithmeticEncoder& enc, Rgb12Bytes record);
};

class Rgb12V2Decoder : public Rgb12V2State {
  public:
    void decode(ArithmeticDecoder& dec, Rgb12Out record);
};

}  // namespace korvane::laz
