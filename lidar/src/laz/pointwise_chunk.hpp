// The chunks of LASzip's point-wise chunked compressor (compressor 2, point formats 0-5): the
// chunk's first record stored raw, item after item, then one arithmetic-coded stream that codes
// every further record, its items in list order. Implemented items: POINT10 v2, then optionally
// GPSTIME11 v2, RGB12 v2 and BYTE v2 in that order (the lists of point formats 0-3 with or
// without extra bytes). Works on memory only; a chunk decodes in pieces into the caller's
// buffers, so memory does not grow with its point count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "arithmetic_decoder.hpp"
#include "arithmetic_encoder.hpp"
#include "byte_v2.hpp"
#include "gpstime11_v2.hpp"
#include "laszip_record.hpp"
#include "point10_v2.hpp"
#include "rgb12_v2.hpp"

namespace korvane::laz {

// The first item of `items` that the point-wise chunk codec does not implement (type, size and
// version all checked: POINT10 v2 of 20 bytes, then optionally GPSTIME11 v2 of 8, RGB12 v2 of 6,
// BYTE v2 of n >= 1, in the order LASzip allows); nothing when every item is implemented.
// An empty list or an impossible order is refused too (return the first offending item, or a
// default-constructed LaszipItem for an empty list). So is the item that makes the record
// longer than a LAS record can be (65,535 bytes).
std::optional<LaszipItem> pointwise_unsupported_item(std::span<const LaszipItem> items);

// Where each item lies in a record; record_length 0 for a list that is not implemented.
struct PointwiseLayout {
    bool gps_time = false;
    bool rgb = false;
    std::size_t extra_bytes = 0;
    std::size_t gps_at = 0;
    std::size_t rgb_at = 0;
    std::size_t extra_at = 0;
    std::size_t record_length = 0;

    static PointwiseLayout of(std::span<const LaszipItem> items);
};

class PointwiseChunkDecoder {
  public:
    // `items` must be a list that pointwise_unsupported_item accepts; with any other list the
    // decoder has record_length() 0 and refuses every chunk.
    explicit PointwiseChunkDecoder(std::span<const LaszipItem> items);
    std::size_t record_length() const { return layout_.record_length; }
    // Starts one chunk: `chunk` its bytes (the caller keeps them until the chunk is decoded),
    // `points` its point count from the chunk table. False when the chunk is damaged. A chunk of
    // 0 points has nothing to decode.
    bool begin(std::span<const std::byte> chunk, std::uint32_t points);
    // Decodes the next out.size() / record_length() records into `out`; the caller asks for at
    // most remaining(). False when the chunk turns out damaged (the coded stream ends too soon),
    // when `out` is not a whole number of records or holds more than remaining(), or after an
    // earlier failure in the same chunk; `out` then holds no records to rely on.
    bool decode(std::span<std::byte> out);
    std::uint32_t remaining() const { return points_ - done_; }

  private:
    void decode_record(std::span<std::byte> record);

    PointwiseLayout layout_;
    Point10V2Decoder point_;
    std::optional<GpsTime11V2Decoder> gps_;
    std::optional<Rgb12V2Decoder> rgb_;
    std::optional<ByteV2Decoder> extra_;
    ArithmeticDecoder dec_;
    std::span<const std::byte> first_;  // the raw first record
    std::uint32_t points_ = 0;
    std::uint32_t done_ = 0;
    bool coded_ = false;  // whether the chunk has a coded stream (more than one point)
    bool failed_ = false;
};

class PointwiseChunkEncoder {
  public:
    // `items` must be a list that pointwise_unsupported_item accepts; with any other list the
    // encoder has record_length() 0 and codes nothing.
    explicit PointwiseChunkEncoder(std::span<const LaszipItem> items);
    std::size_t record_length() const { return layout_.record_length; }
    void begin();  // a new chunk: every model reset
    // Whole records, any number per call (bytes after the last whole record are not coded).
    // Records that come after finish() and before the next begin() are not coded either.
    void encode(std::span<const std::byte> records);
    std::uint32_t points() const { return points_; }  // in the chunk so far
    // The chunk's bytes, valid until the next begin(): empty for a chunk of no points. Calling it
    // again before begin() returns the same bytes.
    std::span<const std::byte> finish();

  private:
    void encode_record(std::span<const std::byte> record);

    PointwiseLayout layout_;
    Point10V2Encoder point_;
    std::optional<GpsTime11V2Encoder> gps_;
    std::optional<Rgb12V2Encoder> rgb_;
    std::optional<ByteV2Encoder> extra_;
    ArithmeticEncoder enc_;
    std::vector<std::byte> chunk_;  // the raw first record, then at finish() the coded stream
    std::uint32_t points_ = 0;
    bool finished_ = false;
};

}  // namespace korvane::laz
