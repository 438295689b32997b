// RGB14 v3 (item type 11, 6 bytes, version 3): the colour of point formats 7 and 8 as LASzip's
// layered compressor codes it, in one layer of its own. Each colour is coded as the bytes that
// changed from the last colour: red's low and high bytes as differences, green's and blue's
// predicted from red's change (a grey colour, all three equal, costs one symbol). The models
// belong to the context handed over by POINT14 v3 (see channel_contexts.hpp for the rule).
// RGBNIR14 v3 uses the same coding for its colour layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "laz/arithmetic_decoder.hpp"
#include "laz/arithmetic_encoder.hpp"
#include "laz/arithmetic_models.hpp"
#include "laz/channel_contexts.hpp"
#include "laz/reset_per_chunk.hpp"

namespace korvane::laz {

inline constexpr std::size_t kRgb14Bytes = 6;

struct Rgb14Colour {
    std::uint16_t r = 0;
    std::uint16_t g = 0;
    std::uint16_t b = 0;
    bool operator==(const Rgb14Colour&) const = default;

    static Rgb14Colour read(const std::byte* at);
    void write(std::byte* at) const;
};

namespace rgb14_detail {

struct Context {
    Context();
    bool active = false;
    Rgb14Colour last;
    ResetPerChunk<SymbolModel> changed_bytes;           // which of the six bytes changed, and grey
    std::vector<ResetPerChunk<SymbolModel>> byte_diff;  // one per byte
};

}  // namespace rgb14_detail

class Rgb14V3Encoder {
  public:
    void begin();
    void first(const std::byte* colour, std::uint32_t context);
    void encode(const std::byte* colour, std::uint32_t context);
    // The layer's bytes, empty when no colour changed in the chunk; valid until the next begin().
    std::span<const std::byte> finish();

  private:
    ArithmeticEncoder layer_;
    bool written_ = false;
    ChannelContexts<rgb14_detail::Context> contexts_;
    ChunkNumber chunk_ = 0;
};

class Rgb14V3Decoder {
  public:
    void begin(const std::byte* colour, std::uint32_t context);
    // The layer's bytes, which must outlive the chunk's decoding.
    void set_layer(std::span<const std::byte> layer);
    void decode(std::byte* colour, std::uint32_t context);
    bool damaged() const { return present_ && layer_.overrun(); }

  private:
    ArithmeticDecoder layer_;
    bool present_ = false;
    ChannelContexts<rgb14_detail::Context> contexts_;
    ChunkNumber chunk_ = 0;
};

}  // namespace korvane::laz
