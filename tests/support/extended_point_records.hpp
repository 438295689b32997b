// Generated point records of formats 6-8, with or without extra bytes, for the layered codec's
// tests: a scan line by line with the features that reach the coders' corners, each switched on
// by the recipe. Deterministic for a given recipe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testing_support {

struct ExtendedRecordRecipe {
    std::uint8_t format = 6;  // 6, 7 or 8
    std::uint16_t extra_bytes = 0;
    std::uint32_t points = 0;
    std::uint32_t seed = 1;
    // The scanner channel changes, to channels not yet seen in the chunk and back to ones seen.
    bool channel_changes = false;
    // GPS times that jump forward and back by more than 32 bits of their integer form, go back
    // to earlier time sequences, repeat, and are NaN now and then.
    bool gps_jumps = false;
    // Every field but X, Y, Z and the returns the same in every record (the colour grey), so
    // that only XY and Z have layers.
    bool constant = false;
    // Return numbers and counts anywhere in 0-15, numbers above counts included.
    bool any_returns = false;
    // Coordinates near the limits of int32, with differences that wrap.
    bool extreme_coordinates = false;
    // Every flag bit, classification, user data value and scan angle, changing often.
    bool busy_attributes = false;
    // Colours grey (red = green = blue) for a stretch, then differing, and back.
    bool grey_stretches = false;
    // A GPS time of +0.0 followed by -0.0 in a few places (all on channel 0, nothing else
    // changing around them): the one value no v3 coder round-trips.
    bool negative_zero_times = false;
};

// The record length of `format` with `extra_bytes` extra bytes.
std::size_t extended_record_length(std::uint8_t format, std::uint16_t extra_bytes);

// The records of a recipe, back to back.
std::vector<std::byte> make_extended_records(const ExtendedRecordRecipe& recipe);

// The records a v3 decoder gives back for `records`: the same, except that a GPS time equal as a
// double to the last GPS time of its scanner channel but of other bits (-0.0 after +0.0) comes
// back as that last time. Only for records whose channels never change.
std::vector<std::byte> expected_v3_records(const std::vector<std::byte>& records,
                                           std::size_t record_length);

}  // namespace testing_support
