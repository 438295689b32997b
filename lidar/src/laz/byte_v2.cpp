#include "byte_v2.hpp"

#include <algorithm>

namespace korvane::laz {

ByteV2State::ByteV2State(std::size_t count) : models_(count, SymbolModel(256)), last_(count) {}

void ByteV2State::start(std::span<const std::byte> first) {
    for (SymbolModel& m : models_) m.reset();
    std::transform(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(last_.size()),
                   last_.begin(), [](std::byte b) { return std::to_integer<std::uint8_t>(b); });
}

void ByteV2Encoder::encode(ArithmeticEncoder& enc, std::span<const std::byte> record) {
    for (std::size_t i = 0; i < last_.size(); ++i) {
        const auto b = std::to_integer<std::uint8_t>(record[i]);
        enc.encode_symbol(models_[i], static_cast<std::uint8_t>(b - last_[i]));
        last_[i] = b;
    }
}

void ByteV2Decoder::decode(ArithmeticDecoder& dec, std::span<std::byte> record) {
    for (std::size_t i = 0; i < last_.size(); ++i) {
        last_[i] = static_cast<std::uint8_t>(last_[i] + dec.decode_symbol(models_[i]));
        record[i] = std::byte{last_[i]};
    }
}

}  // namespace korvane::laz
