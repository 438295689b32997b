// The POINT10 item, version 2: the 20 bytes that every record of point formats 0-5 starts with
// (X, Y, Z, intensity, the return and flag byte, classification, scan angle, user data, point
// source), coded point by point against the point before it, as LASzip's chunked writers code it.
//
// A 6-bit symbol first says which of the byte fields and the intensity changed. Changed bytes
// are coded with models chosen by their previous value (the scan angle as a difference, with a
// model per scan direction). The return number r and the number of returns n pick the rest: a
// context m among 16 for the intensity (predicted by the last intensity of the same context) and
// for the X and Y differences (predicted by a running median of that context's last five), and a
// level |n - r| among 8 for Z (predicted by the last Z of that level). The contexts of Y and Z
// also take the bit lengths of the corrections just coded for X (and Y), so a jump in one makes
// the next cheaper to code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "arithmetic_decoder.hpp"
#include "arithmetic_encoder.hpp"
#include "arithmetic_models.hpp"
#include "integer_compressor.hpp"
#include "median5.hpp"

namespace korvane::laz {

inline constexpr std::size_t kPoint10Size = 20;

using Point10Bytes = std::span<const std::byte, kPoint10Size>;
using Point10Out = std::span<std::byte, kPoint10Size>;

// The fields of a POINT10 record as numbers.
struct Point10Fields {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t z = 0;
    std::uint16_t intensity = 0;
    std::uint8_t flags = 0;  // return number (bits 0-2), number of returns (3-5), scan
                             // direction (6), edge of flight line (7)
    std::uint8_t classification = 0;
    std::uint8_t scan_angle = 0;
    std::uint8_t user_data = 0;
    std::uint16_t source = 0;

    static Point10Fields read(Point10Bytes record);
    void write(Point10Out record) const;
};

// 256 models of a byte, one for each previous value of that byte. A model is made the first time
// its value occurs and kept from chunk to chunk; it is reset the first time it is used in a chunk,
// so starting a chunk costs nothing however many of them exist.
class ModelsByLastValue {
  public:
    void begin_chunk();
    SymbolModel& operator[](std::uint8_t last) {
        if (stamps_[last] != chunk_) refresh(last);
        return *models_[last];
    }

  private:
    void refresh(std::uint8_t last);

    std::array<std::unique_ptr<SymbolModel>, 256> models_;
    std::array<std::uint32_t, 256> stamps_{};  // the chunk each model was last reset in
    std::uint32_t chunk_ = 0;
};

// What the encoder and the decoder both keep: the models and the predictions.
class Point10V2State {
  public:
    Point10V2State();

    // A chunk starts with `first`, stored raw: every model and prediction starts afresh.
    void start(const Point10Fields& first);

  protected:
    // The context of a return (r, n) for intensity and X and Y, one of 16.
    static std::uint32_t return_context(std::uint32_t flags);
    // The level of a return for Z, |n - r|, one of 8.
    static std::uint32_t return_level(std::uint32_t flags);
    static std::uint32_t single_return(std::uint32_t flags);  // 1 when n is 1

    SymbolModel changed_;  // which of the six fields changed
    ModelsByLastValue flag_models_;
    ModelsByLastValue classification_models_;
    ModelsByLastValue user_data_models_;
    std::array<SymbolModel, 2> scan_angle_models_;  // by scan direction
    IntegerCompressor intensity_;
    IntegerCompressor source_;
    IntegerCompressor dx_;
    IntegerCompressor dy_;
    IntegerCompressor z_;
    std::array<Median5, 16> median_dx_;
    std::array<Median5, 16> median_dy_;
    std::array<std::uint16_t, 16> last_intensity_{};
    std::array<std::int32_t, 8> last_z_{};
    Point10Fields last_;
};

class Point10V2Encoder : public Point10V2State {
  public:
    void encode(ArithmeticEncoder& enc, Point10Bytes record);
};

class Point10V2Decoder : public Point10V2State {
  public:
    void decode(ArithmeticDecoder& dec, Point10Out record);
};

}  // namespace korvane::laz
