#include "laz/byte14_v3.hpp"

#include <cstring>

namespace korvane::laz {
namespace {

std::vector<std::uint8_t> read_bytes(const std::byte* bytes, std::size_t count) {
    std::vector<std::uint8_t> v(count);
    std::memcpy(v.data(), bytes, count);
    return v;
}

}  // namespace

std::vector<ResetPerChunk<SymbolModel>>& byte14_detail::Context::models(std::size_t count) {
    if (byte_diff.size() != count) byte_diff.assign(count, ResetPerChunk<SymbolModel>(256u));
    return byte_diff;
}

Byte14V3Encoder::Byte14V3Encoder(std::size_t count)
    : count_(count), layers_(count), written_(count, false) {}

void Byte14V3Encoder::begin() {
    ++chunk_;
    for (ArithmeticEncoder& e : layers_) e.reset();
    written_.assign(count_, false);
}

void Byte14V3Encoder::first(const std::byte* bytes, std::uint32_t context) {
    contexts_.begin(context, read_bytes(bytes, count_));
}

void Byte14V3Encoder::encode(const std::byte* bytes, std::uint32_t context) {
    std::vector<ResetPerChunk<SymbolModel>>& models = contexts_.state(context).models(count_);
    std::vector<std::uint8_t>& last = contexts_.reference(context);
    for (std::size_t i = 0; i < count_; ++i) {
        const auto value = std::to_integer<std::uint8_t>(bytes[i]);
        const auto diff = static_cast<std::uint8_t>(value - last[i]);
        layers_[i].encode_symbol(models[i].in(chunk_), diff);
        if (diff != 0) {
            written_[i] = true;
            last[i] = value;
        }
    }
}

void Byte14V3Encoder::finish(std::span<std::span<const std::byte>> layers) {
    for (std::size_t i = 0; i < count_; ++i)
        layers[i] = written_[i] ? std::span<const std::byte>(layers_[i].finish())
                                : std::span<const std::byte>();
}

Byte14V3Decoder::Byte14V3Decoder(std::size_t count)
    : count_(count), layers_(count), present_(count, false) {}

void Byte14V3Decoder::begin(const std::byte* bytes, std::uint32_t context) {
    ++chunk_;
    contexts_.begin(context, read_bytes(bytes, count_));
}

void Byte14V3Decoder::set_layers(std::span<const std::span<const std::byte>> layers) {
    for (std::size_t i = 0; i < count_; ++i) {
        present_[i] = !layers[i].empty();
        if (present_[i]) layers_[i].reset(layers[i]);
    }
}

bool Byte14V3Decoder::damaged() const {
    for (std::size_t i = 0; i < count_; ++i)
        if (present_[i] && layers_[i].overrun()) return true;
    return false;
}

void Byte14V3Decoder::decode(std::byte* bytes, std::uint32_t context) {
    std::vector<ResetPerChunk<SymbolModel>>& models = contexts_.state(context).models(count_);
    std::vector<std::uint8_t>& last = contexts_.reference(context);
    for (std::size_t i = 0; i < count_; ++i) {
        if (present_[i])
            last[i] =
                static_cast<std::uint8_t>(last[i] + layers_[i].decode_symbol(models[i].in(chunk_)));
        bytes[i] = static_cast<std::byte>(last[i]);
    }
}

}  // namespace korvane::laz
