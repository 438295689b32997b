// The BYTE item, version 2: the extra bytes after the standard fields of point formats 0-5, coded
// as LASzip's chunked writers code them: each byte as its difference from the same byte of the
// point before, with a model of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "arithmetic_decoder.hpp"
#include "arithmetic_encoder.hpp"
#include "arithmetic_models.hpp"

namespace korvane::laz {

class ByteV2State {
  public:
    // `count` extra bytes, at least 1.
    explicit ByteV2State(std::size_t count);
    std::size_t size() const { return last_.size(); }
    // A chunk starts with these bytes (size() of them), stored raw.
    void start(std::span<const std::byte> first);

  protected:
    std::vector<SymbolModel> models_;
    std::vector<std::uint8_t> last_;
};

class ByteV2Encoder : public ByteV2State {
  public:
    using ByteV2State::ByteV2State;
    void encode(ArithmeticEncoder& enc, std::span<const std::byte> record);
};

class ByteV2Decoder : public ByteV2State {
  public:
    using ByteV2State::ByteV2State;
    void decode(ArithmeticDecoder& dec, std::span<std::byte> record);
};

}  // namespace korvane::laz
