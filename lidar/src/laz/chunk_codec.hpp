// The LAZ chunk codec as the merge uses it: a decoder and an encoder of the chunks of one LASzip
// record, whichever compressor and items it names, so long as they are implemented. Decoding is
// incremental: a call yields at most kMaxRecordsPerCall records or kMaxBytesPerCall bytes of
// them, whichever is fewer, so memory does not grow with a chunk's point count; the caller holds
// the compressed chunk. No file I/O: chunks and records are memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "laszip_record.hpp"
#include "layered_chunk.hpp"
#include "pointwise_chunk.hpp"

namespace korvane::laz {

inline constexpr std::size_t kMaxRecordsPerCall = 65536;
inline constexpr std::size_t kMaxBytesPerCall = std::size_t{4} << 20;

// The first item of `record` that is not implemented for its compressor; nothing when all are.
// A compressor without implemented items yields its first item (or an empty item when it has
// none).
std::optional<LaszipItem> unsupported_item(const LaszipRecord& record);

// An item type as LASzip names it ("POINT10", "BYTE14"; "type 42" for one it does not know).
std::string item_name(std::uint16_t type);

class ChunkDecoder {
  public:
    // `record` must be one that unsupported_item() accepts.
    explicit ChunkDecoder(const LaszipRecord& record);

    std::size_t record_length() const;
    // Starts one chunk: its bytes, which the caller keeps until the chunk is decoded, and its
    // point count from the chunk table. False when the chunk is damaged.
    bool begin(std::span<const std::byte> chunk, std::uint32_t points);
    // Decodes the chunk's next records into `out`: as many whole records as fit, but no more than
    // remain, than kMaxRecordsPerCall or than kMaxBytesPerCall. Returns how many; nothing when the
    // chunk turns out damaged.
    std::optional<std::size_t> decode(std::span<std::byte> out);
    std::uint32_t remaining() const;

  private:
    std::variant<PointwiseChunkDecoder, LayeredChunkDecoder> coder_;
};

class ChunkEncoder {
  public:
    // `record` must be one that unsupported_item() accepts.
    explicit ChunkEncoder(const LaszipRecord& record);

    std::size_t record_length() const;
    void begin();                                     // a new chunk: every model reset
    void encode(std::span<const std::byte> records);  // whole records, any number per call
    std::uint32_t points() const;                     // in the chunk so far
    std::span<const std::byte> finish();  // the chunk's bytes, valid until the next begin()

  private:
    std::variant<PointwiseChunkEncoder, LayeredChunkEncoder> coder_;
};

}  // namespace korvane::laz
