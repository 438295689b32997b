// BYTE14 v3 (item type 14, n bytes, version 3): the extra bytes of point formats 6-10 as LASzip's
// layered compressor codes them, one layer per byte, each byte as its difference from the last
// value. The models belong to the context handed over by POINT14 v3 (channel_contexts.hpp); a
// context's models are made the first time a chunk uses the context.
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

namespace byte14_detail {

struct Context {
    bool active = false;
    std::vector<std::uint8_t> last;
    std::vector<ResetPerChunk<SymbolModel>> byte_diff;  // one per byte, made on first use

    std::vector<ResetPerChunk<SymbolModel>>& models(std::size_t count);
};

}  // namespace byte14_detail

class Byte14V3Encoder {
  public:
    explicit Byte14V3Encoder(std::size_t count);

    std::size_t layers() const { return count_; }
    void begin();
    void first(const std::byte* bytes, std::uint32_t context);
    void encode(const std::byte* bytes, std::uint32_t context);
    // Byte i's layer in layers[i], empty when that byte never changed in the chunk; valid until
    // the next begin().
    void finish(std::span<std::span<const std::byte>> layers);

  private:
    std::size_t count_;
    std::vector<ArithmeticEncoder> layers_;
    std::vector<bool> written_;
    ChannelContexts<byte14_detail::Context> contexts_;
    ChunkNumber chunk_ = 0;
};

class Byte14V3Decoder {
  public:
    explicit Byte14V3Decoder(std::size_t count);

    std::size_t layers() const { return count_; }
    void begin(const std::byte* bytes, std::uint32_t context);
    void set_layers(std::span<const std::span<const std::byte>> layers);
    void decode(std::byte* bytes, std::uint32_t context);
    bool damaged() const;

  private:
    std::size_t count_;
    std::vector<ArithmeticDecoder> layers_;
    std::vector<bool> present_;
    ChannelContexts<byte14_detail::Context> contexts_;
    ChunkNumber chunk_ = 0;
};

}  // namespace korvane::laz
