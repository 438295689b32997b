#include "rgb12_v2.hpp"

#include <algorithm>

#include "las/byte_order.hpp"

namespace korvane::laz {
namespace {

constexpr std::uint32_t kNotGrey = 1u << 6;

constexpr std::uint32_t changed_bit(std::size_t colour, std::size_t lane) {
    return 1u << (2 * colour + lane);
}

// The byte of a 16-bit value in lane 0 (low) or 1 (high).
int lane_byte(std::uint16_t v, std::size_t lane) {
    return (v >> (8 * lane)) & 0xFF;
}

int clamp_byte(int v) {
    return std::clamp(v, 0, 255);
}

// A difference of bytes as the symbol that codes it, and back.
std::uint32_t fold(int diff) {
    return static_cast<std::uint8_t>(diff);
}
int unfold(std::uint32_t symbol, int base) {
    return static_cast<std::uint8_t>(symbol + base);
}

std::array<std::uint16_t, 3> read_rgb(Rgb12Bytes record) {
    return {get_le<std::uint16_t>(record, 0), get_le<std::uint16_t>(record, 2),
            get_le<std::uint16_t>(record, 4)};
}

}  // namespace

Rgb12V2State::Rgb12V2State()
    : changed_(128), diff_{SymbolModel(256), SymbolModel(256), SymbolModel(256),
                           SymbolModel(256), SymbolModel(256), SymbolModel(256)} {}

void Rgb12V2State::start(Rgb12Bytes first) {
    changed_.reset();
    for (SymbolModel& m : diff_) m.reset();
    last_ = read_rgb(first);
}

void Rgb12V2Encoder::encode(ArithmeticEncoder& enc, Rgb12Bytes record) {
    const std::array<std::uint16_t, 3> rgb = read_rgb(record);
    std::uint32_t changed = 0;
    for (std::size_t c = 0; c < 3; ++c)
        for (std::size_t lane = 0; lane < 2; ++lane)
            if (lane_byte(rgb[c], lane) != lane_byte(last_[c], lane))
                changed |= changed_bit(c, lane);
    if (rgb[1] != rgb[0] || rgb[2] != rgb[0]) changed |= kNotGrey;
    enc.encode_symbol(changed_, changed);

    for (std::size_t lane = 0; lane < 2; ++lane) {
        if (changed & changed_bit(0, lane)) {
            enc.encode_symbol(diff_[lane],
                              fold(lane_byte(rgb[0], lane) - lane_byte(last_[0], lane)));
        }
    }
    if (changed & kNotGrey) {
        for (std::size_t lane = 0; lane < 2; ++lane) {
            // Green moves as red moved; blue as the mean of the two moves.
            const int red_moved = lane_byte(rgb[0], lane) - lane_byte(last_[0], lane);
            const int green_moved = lane_byte(rgb[1], lane) - lane_byte(last_[1], lane);
            if (changed & changed_bit(1, lane)) {
                const int predicted = clamp_byte(lane_byte(last_[1], lane) + red_moved);
                enc.encode_symbol(diff_[2 + lane], fold(lane_byte(rgb[1], lane) - predicted));
            }
            if (changed & changed_bit(2, lane)) {
                const int predicted =
                    clamp_byte(lane_byte(last_[2], lane) + (red_moved + green_moved) / 2);
                enc.encode_symbol(diff_[4 + lane], fold(lane_byte(rgb[2], lane) - predicted));
            }
        }
    }
    last_ = rgb;
}

void Rgb12V2Decoder::decode(ArithmeticDecoder& dec, Rgb12Out record) {
    const std::uint32_t changed = dec.decode_symbol(changed_);
    std::array<std::array<int, 3>, 2> v{};  // [lane][colour]
    for (std::size_t lane = 0; lane < 2; ++lane) {
        const int last = lane_byte(last_[0], lane);
        v[lane][0] =
            changed & changed_bit(0, lane) ? unfold(dec.decode_symbol(diff_[lane]), last) : last;
    }
    for (std::size_t lane = 0; lane < 2; ++lane) {
        std::array<int, 3>& lv = v[lane];
        if (!(changed & kNotGrey)) {
            lv[1] = lv[2] = lv[0];
            continue;
        }
        const int red_moved = lv[0] - lane_byte(last_[0], lane);
        const int last_green = lane_byte(last_[1], lane);
        lv[1] = last_green;
        if (changed & changed_bit(1, lane))
            lv[1] = unfold(dec.decode_symbol(diff_[2 + lane]), clamp_byte(last_green + red_moved));
        const int last_blue = lane_byte(last_[2], lane);
        lv[2] = last_blue;
        if (changed & changed_bit(2, lane)) {
            const int predicted = clamp_byte(last_blue + (red_moved + lv[1] - last_green) / 2);
            lv[2] = unfold(dec.decode_symbol(diff_[4 + lane]), predicted);
        }
    }
    for (std::size_t c = 0; c < 3; ++c) {
        last_[c] = static_cast<std::uint16_t>(v[0][c] | (v[1][c] << 8));
        put_le(record, 2 * c, last_[c]);
    }
}

}  // namespace korvane::laz
