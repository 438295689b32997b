// The chunk of LASzip's layered compressor (compressor 3, point formats 6-10): the chunk's first
// point stored raw, item after item; a u32 point count (the raw point included); one u32 byte
// count per layer of every item, in item order; then the layers in that order. POINT14 v3 has
// nine layers, RGB14 v3 one, RGBNIR14 v3 two and BYTE14 v3 one per byte. A layer whose values
// never changed in the chunk has 0 bytes.
//
// The decoder works through a chunk in pieces and keeps no copy of it: every layer is decoded
// where it lies, side by side. It checks the stored point count and the layer counts before it
// reads a layer, and reports a chunk that turns out short or impossible as damaged. Models are
// reset, never rebuilt, from one chunk to the next, so a coder is cheap to reuse for chunks of a
// few points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "laz/byte14_v3.hpp"
#include "laz/laszip_record.hpp"
#include "laz/point14_v3.hpp"
#include "laz/rgb14_v3.hpp"
#include "laz/rgbnir14_v3.hpp"

namespace korvane::laz {

// The first item of `items` that the layered chunk codec does not implement (type, size and
// version all checked: POINT14 v3 of 30 bytes, then optionally RGB14 v3 of 6 or RGBNIR14 v3 of 8,
// then optionally BYTE14 v3 of n >= 1); nothing when every item is implemented. An empty list or
// an impossible order is refused too (the first offending item, or a default-constructed
// LaszipItem for an empty list). A list whose record would pass 65,535 bytes, the most a LAS
// record can hold, is refused at its BYTE14 item.
std::optional<LaszipItem> layered_unsupported_item(std::span<const LaszipItem> items);

namespace layered_detail {

// Which items a list holds, once checked.
struct ItemSet {
    explicit ItemSet(std::span<const LaszipItem> items);
    bool rgb = false;
    bool rgbnir = false;
    std::size_t extra_bytes = 0;

    std::size_t colour_bytes() const { return rgbnir ? kRgbNir14Bytes : rgb ? kRgb14Bytes : 0; }
    std::size_t record_length() const { return kPoint14Bytes + colour_bytes() + extra_bytes; }
    std::size_t layers() const {
        return kPoint14Layers + (rgbnir ? kRgbNir14Layers : rgb ? 1 : 0) + extra_bytes;
    }
};

}  // namespace layered_detail

class LayeredChunkDecoder {
  public:
    explicit LayeredChunkDecoder(std::span<const LaszipItem> items);  // accepted items only
    std::size_t record_length() const { return items_.record_length(); }
    // Starts one chunk: `chunk` its bytes (the caller keeps them until the chunk is decoded),
    // `points` its point count from the chunk table. False when the chunk is damaged.
    bool begin(std::span<const std::byte> chunk, std::uint32_t points);
    // Decodes the next out.size() / record_length() records into `out`; the caller asks for at
    // most remaining(). False when the chunk turns out damaged (a layer ends too soon).
    bool decode(std::span<std::byte> out);
    std::uint32_t remaining() const { return remaining_; }

  private:
    bool damaged() const;

    layered_detail::ItemSet items_;
    Point14V3Decoder point_;
    std::optional<Rgb14V3Decoder> rgb_;
    std::optional<RgbNir14V3Decoder> rgbnir_;
    std::optional<Byte14V3Decoder> bytes_;
    std::vector<std::span<const std::byte>> layers_;
    std::span<const std::byte> first_;  // the raw first record, until it is handed out
    std::uint32_t remaining_ = 0;
    bool damaged_ = false;
};

class LayeredChunkEncoder {
  public:
    explicit LayeredChunkEncoder(std::span<const LaszipItem> items);
    std::size_t record_length() const { return items_.record_length(); }
    void begin();  // a new chunk: every model reset
    // Whole records, any number per call (a partial record at the end is not read).
    void encode(std::span<const std::byte> records);
    std::uint32_t points() const { return points_; }  // in the chunk so far
    std::span<const std::byte> finish();  // the chunk's bytes, valid until the next begin()

  private:
    layered_detail::ItemSet items_;
    Point14V3Encoder point_;
    std::optional<Rgb14V3Encoder> rgb_;
    std::optional<RgbNir14V3Encoder> rgbnir_;
    std::optional<Byte14V3Encoder> bytes_;
    std::vector<std::span<const std::byte>> layers_;
    std::vector<std::byte> first_;  // the raw first record
    std::vector<std::byte> out_;
    std::uint32_t points_ = 0;
    bool finished_ = false;
};

}  // namespace korvane::laz
