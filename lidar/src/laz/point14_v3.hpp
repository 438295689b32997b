// POINT14 v3 (item type 10, 30 bytes, version 3): the base record of point formats 6-10 as
// LASzip's layered compressor codes it. Points are coded against the last point of their scanner
// channel; each of the four channels keeps its own models and predictions. A channel that first
// appears in a chunk starts from the last point of the channel before it.
//
// The fields go to nine layers, each its own arithmetic-coded stream: XY (with the changed-values
// symbol, the channel and the return counts), Z, classification, flags, intensity, scan angle,
// user data, point source and GPS time. XY and Z are always written; any other layer only when its
// value changed within the chunk, so that a reader can skip what it does not need.
//
// Every coder here also tells the items after it which context to use: the point's scanner
// channel on a chunk's first point and when the channel changes, 0 otherwise. That is how LASzip
// and lazperf hand the context over, and the colour and extra-byte coders depend on it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "laz/arithmetic_decoder.hpp"
#include "laz/arithmetic_encoder.hpp"
#include "laz/arithmetic_models.hpp"
#include "laz/integer_compressor.hpp"
#include "laz/reset_per_chunk.hpp"

namespace korvane::laz {

inline constexpr std::size_t kPoint14Bytes = 30;
inline constexpr std::size_t kPoint14Layers = 9;

// The layers in the order their byte counts and bytes are stored.
enum class Point14Layer : std::uint8_t {
    Xy,
    Z,
    Classification,
    Flags,
    Intensity,
    ScanAngle,
    UserData,
    PointSource,
    GpsTime,
};

// One 30-byte base record, unpacked. The GPS time is kept as its 64 bits so that a record
// (NaNs included) goes back to the same bytes.
struct Point14Fields {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t z = 0;
    std::uint16_t intensity = 0;
    std::uint8_t returns = 0;  // return number in bits 0-3, number of returns in bits 4-7
    std::uint8_t flags = 0;    // classification flags 0-3, channel 4-5, scan direction 6, edge 7
    std::uint8_t classification = 0;
    std::uint8_t user_data = 0;
    std::int16_t scan_angle = 0;
    std::uint16_t point_source = 0;
    std::uint64_t gps_bits = 0;

    static Point14Fields read(const std::byte* record);
    void write(std::byte* record) const;

    std::uint32_t return_number() const { return returns & 0x0Fu; }
    std::uint32_t number_of_returns() const { return returns >> 4; }
    std::uint32_t channel() const { return (flags >> 4) & 0x03u; }
    // The flags without the channel, as one 6-bit symbol: classification flags, then the scan
    // direction and edge of flight line bits.
    std::uint32_t coded_flags() const { return (flags & 0x0Fu) | ((flags >> 2) & 0x30u); }
};

namespace point14_detail {

// The median of the last five values, kept sorted. It alternates between dropping the largest
// and the smallest value: after dropping the largest it keeps doing so while values come in below
// the median, and likewise the other way. LASzip predicts coordinate differences with it.
class MedianOfFive {
  public:
    void reset() {
        sorted_.fill(0);
        drop_largest_ = true;
    }
    std::int32_t median() const { return sorted_[2]; }
    void add(std::int32_t v);

  private:
    std::array<std::int32_t, 5> sorted_{};
    bool drop_largest_ = true;
};

// A channel's GPS times: up to four sequences of times, each with its last time and the last
// step between its times, so that interleaved pulses (several time bases) stay cheap.
struct GpsSequences {
    std::uint32_t current = 0;
    std::uint32_t newest = 0;
    std::array<std::uint64_t, 4> time{};
    std::array<std::int32_t, 4> step{};
    std::array<std::int32_t, 4> extremes{};  // steps far from `step` in a row
};

// What one scanner channel keeps: its last point and predictions, and its models.
struct Channel {
    Channel();

    bool active = false;  // seen in this chunk
    Point14Fields last;
    bool gps_changed = false;  // whether the GPS time of `last` differed from the one before
    std::array<std::uint16_t, 8> last_intensity{};
    std::array<std::int32_t, 8> last_z{};
    std::array<MedianOfFive, 12> dx_median;
    std::array<MedianOfFive, 12> dy_median;
    GpsSequences gps;

    std::vector<ResetPerChunk<SymbolModel>> changed_values;     // 8, by the last point's returns
    ResetPerChunk<SymbolModel> channel_step;                    // 1-3 channels on
    ResetPerChunk<SymbolModel> return_step;                     // return number, time unchanged
    std::vector<ResetPerChunk<SymbolModel>> number_of_returns;  // 16, by the last count
    std::vector<ResetPerChunk<SymbolModel>> return_number;      // 16, by the last number
    std::vector<ResetPerChunk<SymbolModel>> classification;     // 64
    std::vector<ResetPerChunk<SymbolModel>> coded_flags;        // 64, by the last flags
    std::vector<ResetPerChunk<SymbolModel>> user_data;          // 64, by the last value / 4
    ResetPerChunk<SymbolModel> gps_multiple;                    // 515
    ResetPerChunk<SymbolModel> gps_no_step;                     // 5

    ResetPerChunk<IntegerCompressor> dx;
    ResetPerChunk<IntegerCompressor> dy;
    ResetPerChunk<IntegerCompressor> dz;
    ResetPerChunk<IntegerCompressor> intensity;
    ResetPerChunk<IntegerCompressor> scan_angle;
    ResetPerChunk<IntegerCompressor> point_source;
    ResetPerChunk<IntegerCompressor> gps_time;

    // The channel's first point in a chunk: predictions start from `seed`, the chunk's first
    // point or the last point of the channel coded before.
    void start(const Point14Fields& seed);
};

// The changed-values context of the last point: first return, last return, time changed.
inline std::uint32_t changed_values_context(const Channel& c) {
    const std::uint32_t r = c.last.return_number();
    return static_cast<std::uint32_t>(r == 1) |
           (static_cast<std::uint32_t>(r >= c.last.number_of_returns()) << 1) |
           (static_cast<std::uint32_t>(c.gps_changed) << 2);
}

}  // namespace point14_detail

class Point14V3Encoder {
  public:
    Point14V3Encoder() = default;

    // A new chunk: every model and prediction starts afresh.
    void begin();
    // The chunk's first point, which the chunk stores raw. Returns the context for the items
    // after this one.
    std::uint32_t first(const std::byte* record);
    // Any later point. Returns the context for the items after this one.
    std::uint32_t encode(const std::byte* record);
    // Ends the layers: each one's bytes, empty for a layer that is not written. Valid until the
    // next begin().
    void finish(std::span<std::span<const std::byte>, kPoint14Layers> layers);

  private:
    ArithmeticEncoder& layer(Point14Layer l) { return layers_[static_cast<std::size_t>(l)]; }
    void mark(Point14Layer l) { written_[static_cast<std::size_t>(l)] = true; }
    void encode_gps_time(point14_detail::Channel& c, std::uint64_t bits);

    std::array<ArithmeticEncoder, kPoint14Layers> layers_;
    std::array<bool, kPoint14Layers> written_{};
    std::array<point14_detail::Channel, 4> channels_;
    std::uint32_t last_channel_ = 0;
    ChunkNumber chunk_ = 0;
};

class Point14V3Decoder {
  public:
    Point14V3Decoder() = default;

    // A new chunk whose first point is `record`. Returns the context for the items after this.
    std::uint32_t begin(const std::byte* record);
    // The layers' bytes, in layer order; they must outlive the chunk's decoding.
    void set_layers(std::span<const std::span<const std::byte>, kPoint14Layers> layers);
    // Decodes the next point into `record`. Returns the context for the items after this one.
    std::uint32_t decode(std::byte* record);
    // Whether some layer ended too soon or held an impossible code.
    bool damaged() const;

  private:
    ArithmeticDecoder& layer(Point14Layer l) { return layers_[static_cast<std::size_t>(l)]; }
    bool present(Point14Layer l) const { return present_[static_cast<std::size_t>(l)]; }
    void decode_gps_time(point14_detail::Channel& c);

    std::array<ArithmeticDecoder, kPoint14Layers> layers_;
    std::array<bool, kPoint14Layers> present_{};
    std::array<point14_detail::Channel, 4> channels_;
    std::uint32_t last_channel_ = 0;
    ChunkNumber chunk_ = 0;
    bool bad_code_ = false;
};

}  // namespace korvane::laz
