#include "arithmetic_encoder.hpp"

#include <cassert>

namespace korvane::laz {

// `base` overflowed: add 1 to the bytes already written, read as one big number. The interval
// always lies below the first one, so some written byte is not 0xFF.
void ArithmeticEncoder::carry() {
    auto byte = out_.end();
    do {
        assert(byte != out_.begin());
        --byte;
        *byte = static_cast<std::byte>(static_cast<std::uint8_t>(*byte) + 1);
    } while (*byte == std::byte{0});
}

// Ends with a point inside the final interval that has as few nonzero bytes as possible, then
// pads with zeros: the decoder always holds 4 bytes ahead, so it then reads exactly the bytes
// written here.
const std::vector<std::byte>& ArithmeticEncoder::finish() {
    std::size_t padding = 0;
    if (length_ > 2 * kMinLength) {
        narrow(kMinLength, kMinLength / 2);  // shifts out 1 byte
        padding = 3;
    } else {
        narrow(kMinLength / 2, kMinLength >> 9);  // shifts out 2 bytes
        padding = 2;
    }
    out_.resize(out_.size() + padding, std::byte{0});
    return out_;
}

}  // namespace korvane::laz
