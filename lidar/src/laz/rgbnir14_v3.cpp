#include "laz/rgbnir14_v3.hpp"

#include "las/byte_order.hpp"

namespace korvane::laz {
namespace {

using nir14_detail::Context;

std::uint16_t read_nir(const std::byte* record) {
    return get_le<std::uint16_t>(std::span<const std::byte>(record, kRgbNir14Bytes), kRgb14Bytes);
}
void write_nir(std::byte* record, std::uint16_t nir) {
    put_le(std::span<std::byte>(record, kRgbNir14Bytes), kRgb14Bytes, nir);
}

}  // namespace

nir14_detail::Context::Context()
    : changed_bytes(4u), byte_diff(2, ResetPerChunk<SymbolModel>(256u)) {}

void RgbNir14V3Encoder::begin() {
    ++chunk_;
    rgb_.begin();
    nir_layer_.reset();
    nir_written_ = false;
}

void RgbNir14V3Encoder::first(const std::byte* record, std::uint32_t context) {
    rgb_.first(record, context);
    nir_.begin(context, read_nir(record));
}

void RgbNir14V3Encoder::encode(const std::byte* record, std::uint32_t context) {
    rgb_.encode(record, context);
    const std::uint16_t nir = read_nir(record);
    Context& s = nir_.state(context);
    std::uint16_t& last = nir_.reference(context);
    const bool low_changed = ((nir ^ last) & 0x00FF) != 0;
    const bool high_changed = ((nir ^ last) & 0xFF00) != 0;
    const std::uint32_t sym = (low_changed ? 1u : 0u) | (high_changed ? 2u : 0u);
    if (sym != 0) nir_written_ = true;
    nir_layer_.encode_symbol(s.changed_bytes.in(chunk_), sym);
    if (low_changed)
        nir_layer_.encode_symbol(s.byte_diff[0].in(chunk_),
                                 static_cast<std::uint32_t>((nir & 0xFF) - (last & 0xFF)) & 0xFF);
    if (high_changed)
        nir_layer_.encode_symbol(s.byte_diff[1].in(chunk_),
                                 static_cast<std::uint32_t>((nir >> 8) - (last >> 8)) & 0xFF);
    last = nir;
}

void RgbNir14V3Encoder::finish(std::span<std::span<const std::byte>, kRgbNir14Layers> layers) {
    layers[0] = rgb_.finish();
    layers[1] = nir_written_ ? std::span<const std::byte>(nir_layer_.finish())
                             : std::span<const std::byte>();
}

void RgbNir14V3Decoder::begin(const std::byte* record, std::uint32_t context) {
    ++chunk_;
    rgb_.begin(record, context);
    nir_.begin(context, read_nir(record));
}

void RgbNir14V3Decoder::set_layers(
    std::span<const std::span<const std::byte>, kRgbNir14Layers> layers) {
    rgb_.set_layer(layers[0]);
    nir_present_ = !layers[1].empty();
    if (nir_present_) nir_layer_.reset(layers[1]);
}

void RgbNir14V3Decoder::decode(std::byte* record, std::uint32_t context) {
    rgb_.decode(record, context);
    if (!nir_present_) {
        write_nir(record, nir_.last_value());
        return;
    }
    Context& s = nir_.state(context);
    std::uint16_t& last = nir_.reference(context);
    const std::uint32_t sym = nir_layer_.decode_symbol(s.changed_bytes.in(chunk_));
    std::uint32_t lo = last & 0xFFu;
    std::uint32_t hi = last >> 8;
    if (sym & 1u) lo = (nir_layer_.decode_symbol(s.byte_diff[0].in(chunk_)) + lo) & 0xFFu;
    if (sym & 2u) hi = (nir_layer_.decode_symbol(s.byte_diff[1].in(chunk_)) + hi) & 0xFFu;
    last = static_cast<std::uint16_t>(lo | (hi << 8));
    write_nir(record, last);
}

}  // namespace korvane::laz
