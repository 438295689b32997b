// The point records of a LAS or LAZ file as an independent reader gives them: a LAS file's own
// record bytes, or what laz-perf (under node) decodes from a LAZ file. With the header fields
// that say where those records lie on the ground, read here field by field.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// The records, back to back; empty after a test failure that says why.
std::vector<std::byte> records_of(const std::string& path);

// What a file's header says of its grid and records.
struct GridHeader {
    std::array<double, 3> scale{}, offset{};
    std::array<double, 3> max{}, min{};
    std::uint8_t format_byte = 0;
    std::uint16_t record_length = 0;
    std::uint64_t points = 0;
    bool laz() const { return (format_byte & 0xC0) != 0; }
};

GridHeader grid_header_of(const std::vector<std::byte>& file);

}  // namespace testing_support
