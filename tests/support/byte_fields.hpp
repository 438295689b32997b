// Little-endian fields of a file held in memory, read and written in place by the tests that
// build inputs or look into outputs. Kept apart from the library's byte helpers so that a test
// that judges the library's output does not read it through the library.
#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

namespace testing_support {

template <typename T>
T get(const std::vector<std::byte>& b, std::size_t at) {
    T v;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}

template <typename T>
void put(std::vector<std::byte>& b, std::size_t at, T v) {
    std::memcpy(b.data() + at, &v, sizeof v);
}

}  // namespace testing_support
