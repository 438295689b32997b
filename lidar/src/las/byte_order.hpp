// LAS and LAZ store every number little-endian. These move a value of a fixed-size type between
// a byte span and a variable, whatever its alignment; the caller has checked the bounds.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <span>

namespace korvane {

static_assert(std::endian::native == std::endian::little,
              "LAS records are little-endian and are used in memory as they lie in the file");

template <typename T>
T get_le(std::span<const std::byte> bytes, std::size_t at) {
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

template <typename T>
void put_le(std::span<std::byte> bytes, std::size_t at, T value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

}  // namespace korvane
