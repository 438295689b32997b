// An input's records made into the output's: each input record of `in_length` bytes becomes an
// output record of `out_length` bytes. The point's fields move to the output format's places
// (formats 0-3 among themselves, 0-3 up to 6-8 by the LAS 1.4 rules, 6-8 among themselves; a
// field the input lacks is 0), the extra bytes fields move to the output's places (a field the
// input lacks gets its no-data value or zeros), and X, Y and Z (the first three i32 of a record
// of every point format) are mapped onto the output's grid when the input is off it. Pure: the
// chunk pipeline's workers run it on records they were given.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "las/extra_bytes.hpp"
#include "plan/grid_plan.hpp"

namespace quillet {

// How an input's raw X, Y and Z map onto the output's grid.
struct GridMove {
    std::array<AxisMap, kAxes> maps{};
    std::array<double, kAxes> in_scale{}, in_offset{};
    std::array<double, kAxes> out_scale{}, out_offset{};
};

// How an input's fields become the output's.
struct Reshape {
    std::uint8_t in_format = 0;
    std::uint8_t out_format = 0;
    // Per output extra bytes field, where its bytes come from.
    std::vector<korvane::FieldPlacement> extra;
};

struct RecordTransform {
    std::uint16_t in_length = 0;
    std::uint16_t out_length = 0;
    std::optional<Reshape> reshape;  // nothing: every byte stays where it is
    std::optional<GridMove> grid;    // nothing: the points keep their raw coordinates

    // Whether the points' real coordinates may change (and with them the header box).
    bool moves_points() const { return grid.has_value(); }
    // Whether the grid is all it changes: every other byte of a record stays where it is.
    bool only_moves() const { return !reshape; }
};

// The raw extents of transformed records, and the first record that left the 32-bit range.
struct ConvertedExtent {
    bool any = false;
    std::array<std::int32_t, kAxes> lo{}, hi{};
    std::optional<std::uint64_t> outside;  // its index among the records transformed

    // Adds the extents of records that come after these (indices counted on from `before`).
    void add(const ConvertedExtent& later, std::uint64_t before);
};

// Moves the fields of one record of `in_format` into one of `out_format` (formats 0-3 and 6-8;
// never 6-8 down to 0-3), the bytes after the formats' own fields left alone.
void reshape_point(std::span<const std::byte> in, std::uint8_t in_format, std::span<std::byte> out,
                   std::uint8_t out_format);

// Transforms the whole records of `in` and appends them to `out`. Stops at a record whose mapped
// coordinate leaves the 32-bit range (a header box that did not hold its points) and says which;
// the records before it are in `out`.
ConvertedExtent transform_records(std::span<const std::byte> in, std::vector<std::byte>& out,
                                  const RecordTransform& t);

}  // namespace quillet
