// Small rules of the formats: which point formats each LAS version defines, and the head of a
// LAZ chunk (its first point's raw X, Y, Z) read and moved by whole steps.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "las/point_formats.hpp"
#include "laz/chunk_head.hpp"

namespace {

using korvane::laz::ChunkHead;
using korvane::laz::kChunkHeadBytes;

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kTurn = std::int64_t{1} << 32;

std::vector<std::byte> from_hex(const std::string& hex) {
    std::vector<std::byte> out;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        out.push_back(static_cast<std::byte>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

TEST(FormatRules, PointFormatsEachVersionDefines) {
    const struct {
        unsigned format, minor;
        bool defined;
    } rows[] = {
        {0, 0, true},  {1, 4, true},   {2, 0, true},   {3, 1, true},   // 0-3 everywhere
        {4, 2, false}, {4, 3, true},   {5, 3, true},   {5, 4, true},   // 4-5 from 1.3
        {6, 3, false}, {6, 4, true},   {8, 4, true},   {10, 4, true},  // 6-10 only 1.4
        {7, 2, false}, {10, 3, false}, {11, 4, false}, {127, 4, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE("format " + std::to_string(r.format) + " in LAS 1." + std::to_string(r.minor));
        EXPECT_EQ(korvane::format_defined_for(static_cast<std::uint8_t>(r.format),
                                              static_cast<std::uint8_t>(r.minor)),
                  r.defined);
    }
}

TEST(ChunkHead, ReadsTheFirstPointsRawXyz) {
    const struct {
        const char* hex;  // the chunk's first bytes, more than the head in some rows
        ChunkHead head;
    } rows[] = {
        {"000000000000000000000000", {0, 0, 0}},
        {"01000000ffffffff00000080", {1, -1, kMin}},
        {"ffffff7f2a000000d6ffffff"
         "0102030405",
         {kMax, 42, -42}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.hex);
        EXPECT_EQ(korvane::laz::read_chunk_head(from_hex(r.hex)), r.head);
    }
}

TEST(ChunkHead, ShiftsByWholeStepsModulo2To32) {
    const struct {
        const char* name;
        ChunkHead raw;
        std::array<std::int64_t, 3> steps;
        ChunkHead shifted;
    } rows[] = {
        {"no steps", {7, -8, 9}, {0, 0, 0}, {7, -8, 9}},
        {"each axis its own way", {100, 200, 300}, {5, -250, 0}, {105, -50, 300}},
        {"past the largest i32", {kMax, kMin, 0}, {1, -1, 0}, {kMin, kMax, 0}},
        {"a whole turn changes nothing", {-1, 5, kMin}, {kTurn, -kTurn, 3 * kTurn}, {-1, 5, kMin}},
        {"steps beyond 32 bits", {10, 0, 0}, {-2 * kTurn - 10, kTurn + 3, -kTurn - 3}, {0, 3, -3}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        // A chunk whose head is `raw`, followed by bytes the shift must leave alone.
        std::vector<std::byte> chunk(kChunkHeadBytes + 4, std::byte{0xC3});
        for (std::size_t a = 0; a < 3; ++a)
            for (std::size_t b = 0; b < 4; ++b)
                chunk[4 * a + b] =
                    static_cast<std::byte>(static_cast<std::uint32_t>(r.raw[a]) >> (8 * b));
        korvane::laz::shift_chunk_head(chunk, r.steps);
        EXPECT_EQ(korvane::laz::read_chunk_head(chunk), r.shifted);
        for (std::size_t i = kChunkHeadBytes; i < chunk.size(); ++i)
            EXPECT_EQ(chunk[i], std::byte{0xC3}) << "byte " << i;
    }
}

}  // namespace
