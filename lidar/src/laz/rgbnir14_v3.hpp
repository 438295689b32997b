// RGBNIR14 v3 (item type 12, 8 bytes, version 3): colour and near infrared of point format 8 as
// LASzip's layered compressor codes them, in two layers: the colour exactly as RGB14 v3 codes it,
// then NIR. NIR is coded as which of its two bytes changed, then each changed byte's
// difference. Colour and NIR each keep their own four contexts (channel_contexts.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "laz/arithmetic_decoder.hpp"
#include "laz/arithmetic_encoder.hpp"
#include "laz/arithmetic_models.hpp"
#include "laz/channel_contexts.hpp"
#include "laz/reset_per_chunk.hpp"
#include "laz/rgb14_v3.hpp"

namespace korvane::laz {

inline constexpr std::size_t kRgbNir14Bytes = 8;
inline constexpr std::size_t kRgbNir14Layers = 2;

namespace nir14_detail {

struct Context {
    Context();
    bool active = false;
    std::uint16_t last = 0;
    ResetPerChunk<SymbolModel> changed_bytes;           // low byte changed, high byte changed
    std::vector<ResetPerChunk<SymbolModel>> byte_diff;  // low, high
};

}  // namespace nir14_detail

class RgbNir14V3Encoder {
  public:
    void begin();
    void first(const std::byte* record, std::uint32_t context);
    void encode(const std::byte* record, std::uint32_t context);
    // The colour layer and the NIR layer, each empty when its values never changed in the
    // chunk; valid until the next begin().
    void finish(std::span<std::span<const std::byte>, kRgbNir14Layers> layers);

  private:
    Rgb14V3Encoder rgb_;
    ArithmeticEncoder nir_layer_;
    bool nir_written_ = false;
    ChannelContexts<nir14_detail::Context> nir_;
    ChunkNumber chunk_ = 0;
};

class RgbNir14V3Decoder {
  public:
    void begin(const std::byte* record, std::uint32_t context);
    void set_layers(std::span<const std::span<const std::byte>, kRgbNir14Layers> layers);
    void decode(std::byte* record, std::uint32_t context);
    bool damaged() const { return rgb_.damaged() || (nir_present_ && nir_layer_.overrun()); }

  private:
    Rgb14V3Decoder rgb_;
    ArithmeticDecoder nir_layer_;
    bool nir_present_ = false;
    ChannelContexts<nir14_detail::Context> nir_;
    ChunkNumber chunk_ = 0;
};

}  // namespace korvane::laz
