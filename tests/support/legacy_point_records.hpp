// Generated point records of formats 0-3, with or without extra bytes, for codec tests: a
// survey-like walk (pulses of one to four returns sharing a GPS time, small steps) that a
// "corner" bends towards what a LAZ coder handles rarely: odd return numbers, GPS times that jump
// or repeat or are NaN or -0.0, colours, every flag bit, coordinates at the ends of the 32-bit
// range, user data and point source changes. The same recipe always gives the same records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

enum class RecordCorner {
    Survey,              // the walk alone
    Returns,             // return numbers and counts 0-7 in any pairing, valid or not
    GpsJumps,            // times that repeat, step back, and jump far both ways
    GpsOddValues,        // NaN, infinities, -0.0 and +0.0, and differences at the 32-bit ends
    GpsSequences,        // five interleaved time streams
    Colours,             // greys, single bytes changing, 0 and 65535
    Flags,               // every value of the flag byte, classification, scan angle, user data
    ExtremeCoordinates,  // X, Y and Z at and across the ends of the 32-bit range
    SourceAndUserData,   // user data and point source changing often and far
    Everything,          // each point takes one of the corners above at random
};

std::string corner_name(RecordCorner corner);

struct LegacyRecordsRecipe {
    std::uint8_t format = 0;  // 0-3
    std::uint16_t extra_bytes = 0;
    std::uint32_t count = 0;
    RecordCorner corner = RecordCorner::Survey;
    std::uint32_t seed = 1;
};

// The record length of a format with extra bytes: 20, 28, 26 or 34, plus the extra bytes.
std::size_t legacy_record_length(std::uint8_t format, std::uint16_t extra_bytes);

// `count` records back to back.
std::vector<std::byte> legacy_point_records(const LegacyRecordsRecipe& recipe);

}  // namespace testing_support
