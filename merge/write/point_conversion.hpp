// Records of one input moved onto the output's grid: X, Y and Z (the first three i32 of a record
// of every point format) mapped axis by axis, every other byte of the record unchanged. Pure: the
// chunk pipeline's workers run it on records they were given.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "plan/grid_plan.hpp"

namespace quillet {

struct Conversion {
    std::array<AxisMap, kAxes> maps{};
    std::array<double, kAxes> in_scale{}, in_offset{};
    std::array<double, kAxes> out_scale{}, out_offset{};
    std::uint16_t record_length = 0;
};

// The raw extents of converted records, and the first record that left the 32-bit range.
struct ConvertedExtent {
    bool any = false;
    std::array<std::int32_t, kAxes> lo{}, hi{};
    std::optional<std::uint64_t> outside;  // its index among the records converted

    // Adds the extents of records that come after these (indices counted on from `before`).
    void add(const ConvertedExtent& later, std::uint64_t before);
};

// Converts whole records in place. Stops at a record whose converted coordinate leaves the
// 32-bit range (a header box that did not hold its points) and says which.
ConvertedExtent convert_records(std::span<std::byte> records, const Conversion& c);

}  // namespace quillet
