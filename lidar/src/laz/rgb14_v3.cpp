#include "laz/rgb14_v3.hpp"

#include <algorithm>

#include "las/byte_order.hpp"

namespace korvane::laz {
namespace {

using rgb14_detail::Context;

// Bits of the changed-bytes symbol.
constexpr std::uint32_t kRedLow = 1u << 0;
constexpr std::uint32_t kRedHigh = 1u << 1;
constexpr std::uint32_t kGreenLow = 1u << 2;
constexpr std::uint32_t kGreenHigh = 1u << 3;
constexpr std::uint32_t kBlueLow = 1u << 4;
constexpr std::uint32_t kBlueHigh = 1u << 5;
constexpr std::uint32_t kNotGrey = 1u << 6;

std::int32_t low(std::uint16_t v) {
    return v & 0xFF;
}
std::int32_t high(std::uint16_t v) {
    return v >> 8;
}
std::int32_t clamp_byte(std::int32_t v) {
    return std::clamp(v, 0, 255);
}
std::uint32_t byte_of(std::int32_t v) {
    return static_cast<std::uint32_t>(v) & 0xFFu;
}

std::uint32_t changed_bytes(const Rgb14Colour& c, const Rgb14Colour& last) {
    const auto differs = [](std::uint16_t a, std::uint16_t b, std::uint32_t mask) {
        return ((a ^ b) & mask) != 0 ? 1u : 0u;
    };
    return differs(c.r, last.r, 0x00FF) | (differs(c.r, last.r, 0xFF00) << 1) |
           (differs(c.g, last.g, 0x00FF) << 2) | (differs(c.g, last.g, 0xFF00) << 3) |
           (differs(c.b, last.b, 0x00FF) << 4) | (differs(c.b, last.b, 0xFF00) << 5) |
           ((c.r != c.g || c.r != c.b) ? kNotGrey : 0u);
}

}  // namespace

Rgb14Colour Rgb14Colour::read(const std::byte* at) {
    const std::span<const std::byte> b(at, kRgb14Bytes);
    return {get_le<std::uint16_t>(b, 0), get_le<std::uint16_t>(b, 2), get_le<std::uint16_t>(b, 4)};
}

void Rgb14Colour::write(std::byte* at) const {
    const std::span<std::byte> out(at, kRgb14Bytes);
    put_le(out, 0, r);
    put_le(out, 2, g);
    put_le(out, 4, b);
}

rgb14_detail::Context::Context()
    : changed_bytes(128u), byte_diff(6, ResetPerChunk<SymbolModel>(256u)) {}

void Rgb14V3Encoder::begin() {
    ++chunk_;
    layer_.reset();
    written_ = false;
}

void Rgb14V3Encoder::first(const std::byte* colour, std::uint32_t context) {
    contexts_.begin(context, Rgb14Colour::read(colour));
}

void Rgb14V3Encoder::encode(const std::byte* colour, std::uint32_t context) {
    const Rgb14Colour c = Rgb14Colour::read(colour);
    Context& s = contexts_.state(context);
    Rgb14Colour& l = contexts_.reference(context);
    const std::uint32_t sym = changed_bytes(c, l);
    if (sym != 0) written_ = true;
    layer_.encode_symbol(s.changed_bytes.in(chunk_), sym);

    const auto code = [&](std::size_t model, std::int32_t value) {
        layer_.encode_symbol(s.byte_diff[model].in(chunk_), byte_of(value));
    };
    std::int32_t red_low = 0;
    std::int32_t red_high = 0;
    if (sym & kRedLow) {
        red_low = low(c.r) - low(l.r);
        code(0, red_low);
    }
    if (sym & kRedHigh) {
        red_high = high(c.r) - high(l.r);
        code(1, red_high);
    }
    if (sym & kNotGrey) {
        // Green follows red's change; blue the mean of red's and green's.
        if (sym & kGreenLow) code(2, low(c.g) - clamp_byte(red_low + low(l.g)));
        if (sym & kBlueLow) {
            const std::int32_t mean = (red_low + low(c.g) - low(l.g)) / 2;
            code(4, low(c.b) - clamp_byte(mean + low(l.b)));
        }
        if (sym & kGreenHigh) code(3, high(c.g) - clamp_byte(red_high + high(l.g)));
        if (sym & kBlueHigh) {
            const std::int32_t mean = (red_high + high(c.g) - high(l.g)) / 2;
            code(5, high(c.b) - clamp_byte(mean + high(l.b)));
        }
    }
    l = c;
}

std::span<const std::byte> Rgb14V3Encoder::finish() {
    if (!written_) return {};
    return layer_.finish();
}

void Rgb14V3Decoder::begin(const std::byte* colour, std::uint32_t context) {
    ++chunk_;
    contexts_.begin(context, Rgb14Colour::read(colour));
}

void Rgb14V3Decoder::set_layer(std::span<const std::byte> layer) {
    present_ = !layer.empty();
    if (present_) layer_.reset(layer);
}

void Rgb14V3Decoder::decode(std::byte* colour, std::uint32_t context) {
    if (!present_) {
        contexts_.last_value().write(colour);
        return;
    }
    Context& s = contexts_.state(context);
    Rgb14Colour& l = contexts_.reference(context);
    const std::uint32_t sym = layer_.decode_symbol(s.changed_bytes.in(chunk_));
    const auto corrector = [&](std::size_t model) {
        return static_cast<std::int32_t>(layer_.decode_symbol(s.byte_diff[model].in(chunk_)));
    };
    std::int32_t r_low = low(l.r);
    std::int32_t r_high = high(l.r);
    if (sym & kRedLow) r_low = static_cast<std::int32_t>(byte_of(corrector(0) + low(l.r)));
    if (sym & kRedHigh) r_high = static_cast<std::int32_t>(byte_of(corrector(1) + high(l.r)));
    Rgb14Colour c;
    c.r = static_cast<std::uint16_t>(r_low | (r_high << 8));
    if (sym & kNotGrey) {
        std::int32_t red = r_low - low(l.r);
        std::int32_t g_low = low(l.g);
        std::int32_t b_low = low(l.b);
        if (sym & kGreenLow)
            g_low = static_cast<std::int32_t>(byte_of(corrector(2) + clamp_byte(red + low(l.g))));
        if (sym & kBlueLow) {
            const std::int32_t corr = corrector(4);
            const std::int32_t mean = (red + g_low - low(l.g)) / 2;
            b_low = static_cast<std::int32_t>(byte_of(corr + clamp_byte(mean + low(l.b))));
        }
        red = r_high - high(l.r);
        std::int32_t g_high = high(l.g);
        std::int32_t b_high = high(l.b);
        if (sym & kGreenHigh)
            g_high = static_cast<std::int32_t>(byte_of(corrector(3) + clamp_byte(red + high(l.g))));
        if (sym & kBlueHigh) {
            const std::int32_t corr = corrector(5);
            const std::int32_t mean = (red + g_high - high(l.g)) / 2;
            b_high = static_cast<std::int32_t>(byte_of(corr + clamp_byte(mean + high(l.b))));
        }
        c.g = static_cast<std::uint16_t>(g_low | (g_high << 8));
        c.b = static_cast<std::uint16_t>(b_low | (b_high << 8));
    } else {
        c.g = c.r;
        c.b = c.r;
    }
    l = c;
    c.write(colour);
}

}  // namespace korvane::laz
