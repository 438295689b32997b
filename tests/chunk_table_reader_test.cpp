// The chunk table reader: small LAZ point regions built in memory, each with one fault (or
// none), read through a reader that may fail or come back short where a row says; and the
// tables of real LAZ samples, against what their headers state.
#include "laz/chunk_table_reader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "byte_fields.hpp"
#include "laz/chunk_table.hpp"
#include "laz_sample.hpp"

namespace {

using korvane::LazChunk;
using korvane::laz::ChunkTableFault;
using korvane::laz::ChunkTableReading;
using korvane::laz::FoundChunkTable;
using korvane::laz::ReadOutcome;
using testing_support::put;
namespace fault = korvane::laz::chunk_table_fault;

constexpr std::uint64_t kStart = 100;  // where the point data starts in every image
constexpr std::uint64_t kFirstChunk = kStart + 8;
constexpr std::uint32_t kVariable = korvane::laz::kVariableChunkSize;

// What an image holds: the table's entries (the points are not stored in a fixed table), its
// chunk size and the header's point count.
struct Layout {
    std::vector<LazChunk> chunks;
    std::uint32_t chunk_size = kVariable;
    std::uint64_t point_count = 0;
    bool offset_at_end = false;  // -1 at the start, the offset in the last 8 bytes
};

// Two variable chunks of 8 points in 17 bytes: the table starts at byte 125.
const Layout kTwoVariable{{{5, 10}, {3, 7}}, kVariable, 8};
// 10 points in chunks of 4: three chunks of 4, 4 and 2 points in 15 bytes, the table at 123.
const Layout kThreeFixed{{{0, 6}, {0, 5}, {0, 4}}, 4, 10};

struct Image {
    std::vector<std::byte> bytes;
    std::uint64_t table_at = 0;
    std::size_t table_bytes = 0;  // the table's header and coded entries
};

Image build(const Layout& l) {
    Image image;
    const std::uint64_t chunk_bytes =
        std::accumulate(l.chunks.begin(), l.chunks.end(), std::uint64_t{0},
                        [](std::uint64_t sum, const LazChunk& c) { return sum + c.bytes; });
    image.table_at = kFirstChunk + chunk_bytes;
    image.bytes.assign(image.table_at, std::byte{0x5A});
    put<std::int64_t>(image.bytes, kStart,
                      l.offset_at_end ? -1 : static_cast<std::int64_t>(image.table_at));
    const std::vector<std::byte> table =
        korvane::laz::build_chunk_table(l.chunks, l.chunk_size == kVariable);
    image.table_bytes = table.size();
    image.bytes.insert(image.bytes.end(), table.begin(), table.end());
    if (l.offset_at_end) {
        image.bytes.resize(image.bytes.size() + 8);
        put<std::int64_t>(image.bytes, image.bytes.size() - 8,
                          static_cast<std::int64_t>(image.table_at));
    }
    return image;
}

// A read at one offset that does not go as the bytes would have it.
struct Trouble {
    std::uint64_t at = 0;
    ReadOutcome outcome;
};

// Reads `bytes` as a file, except at the trouble's offset.
korvane::laz::ReadAt reader_of(const std::vector<std::byte>& bytes,
                               std::optional<Trouble> trouble) {
    return [&bytes, trouble](std::span<std::byte> into, std::uint64_t offset) {
        if (trouble && trouble->at == offset) return trouble->outcome;
        const std::size_t n = offset >= bytes.size()
                                  ? 0
                                  : static_cast<std::size_t>(std::min<std::uint64_t>(
                                        into.size(), bytes.size() - offset));
        if (n != 0) std::memcpy(into.data(), bytes.data() + offset, n);
        return ReadOutcome{n};
    };
}

korvane::laz::LaszipRecord record_of(std::uint32_t chunk_size) {
    return korvane::laz::standard_laszip_record(0, 0, chunk_size);
}

struct Row {
    const char* name;
    Layout layout;
    std::function<void(Image&)> alter;             // what the row breaks; nothing for a good table
    std::function<Trouble(const Image&)> trouble;  // nothing: every read goes through
    std::function<ChunkTableReading(const Image&)> expected;
};

void set_offset(Image& i, std::int64_t offset) {
    put<std::int64_t>(i.bytes, kStart, offset);
}

TEST(ChunkTableReader, FindsGoodTablesAndNamesEachFault) {
    const Layout at_end{kTwoVariable.chunks, kVariable, 8, true};
    const Layout fixed_at_end{kThreeFixed.chunks, 4, 10, true};
    const Layout empty{{}, kVariable, 0};
    const Row rows[] = {
        {"variable table", kTwoVariable, nullptr, nullptr,
         [](const Image& i) {
             return FoundChunkTable{{108, 17}, {{5, 10}, {3, 7}}, {125, i.table_bytes}};
         }},
        {"fixed table: the chunks' points set, the last one the rest", kThreeFixed, nullptr,
         nullptr,
         [](const Image& i) {
             return FoundChunkTable{{108, 15}, {{4, 6}, {4, 5}, {2, 4}}, {123, i.table_bytes}};
         }},
        {"offset -1: the offset read from the last 8 bytes, which are not the table's", at_end,
         nullptr, nullptr,
         [](const Image& i) {
             return FoundChunkTable{{108, 17}, {{5, 10}, {3, 7}}, {125, i.table_bytes}};
         }},
        {"fixed table with offset -1", fixed_at_end, nullptr, nullptr,
         [](const Image& i) {
             return FoundChunkTable{{108, 15}, {{4, 6}, {4, 5}, {2, 4}}, {123, i.table_bytes}};
         }},
        {"no points: an empty table right after the offset", empty, nullptr, nullptr,
         [](const Image& i) {
             return FoundChunkTable{{108, 0}, {}, {108, i.table_bytes}};
         }},
        {"bytes after the table are not the table's", kTwoVariable,
         [](Image& i) { i.bytes.resize(i.bytes.size() + 40, std::byte{0xFF}); }, nullptr,
         [](const Image& i) {
             return FoundChunkTable{{108, 17}, {{5, 10}, {3, 7}}, {125, i.table_bytes}};
         }},

        {"file ends inside the offset", kTwoVariable, [](Image& i) { i.bytes.resize(kStart + 5); },
         nullptr, [](const Image&) { return fault::TooShort{kStart + 8}; }},
        {"file ends before the point data", kTwoVariable, [](Image& i) { i.bytes.resize(40); },
         nullptr, [](const Image&) { return fault::TooShort{kStart + 8}; }},
        {"offset -1 with no room for a second offset", at_end,
         [](Image& i) { i.bytes.resize(kStart + 12); }, nullptr,
         [](const Image&) { return fault::TooShort{kStart + 16}; }},
        {"offset names the point data: the writer stopped", kTwoVariable,
         [](Image& i) { set_offset(i, kStart); }, nullptr,
         [](const Image&) { return fault::NoTable{}; }},
        {"offset at the end names the point data", at_end,
         [](Image& i) { put<std::int64_t>(i.bytes, i.bytes.size() - 8, kStart); }, nullptr,
         [](const Image&) { return fault::NoTable{}; }},
        {"negative offset", kTwoVariable, [](Image& i) { set_offset(i, -7); }, nullptr,
         [](const Image&) { return fault::OffsetOutside{-7}; }},
        {"offset inside the offset field", kTwoVariable,
         [](Image& i) { set_offset(i, kStart + 4); }, nullptr,
         [](const Image&) { return fault::OffsetOutside{kStart + 4}; }},
        {"offset before the point data", kTwoVariable, [](Image& i) { set_offset(i, 3); }, nullptr,
         [](const Image&) { return fault::OffsetOutside{3}; }},
        {"offset leaves no room for the table header", kTwoVariable,
         [](Image& i) { set_offset(i, static_cast<std::int64_t>(i.bytes.size() - 7)); }, nullptr,
         [](const Image& i) {
             return fault::OffsetOutside{static_cast<std::int64_t>(i.bytes.size() - 7)};
         }},
        {"offset far past the end", kTwoVariable,
         [](Image& i) { set_offset(i, std::int64_t{1} << 62); }, nullptr,
         [](const Image&) { return fault::OffsetOutside{std::int64_t{1} << 62}; }},
        {"table version 1", kTwoVariable, [](Image& i) { put<std::uint32_t>(i.bytes, 125, 1); },
         nullptr, [](const Image&) { return fault::UnknownVersion{1}; }},
        {"more chunks than bytes to hold them", kTwoVariable,
         [](Image& i) { put<std::uint32_t>(i.bytes, 129, 18); }, nullptr,
         [](const Image&) {
             return fault::TooManyChunks{18, 17};
         }},
        {"a huge count in a small file", kTwoVariable,
         [](Image& i) { put<std::uint32_t>(i.bytes, 129, 0xFFFFFFFF); }, nullptr,
         [](const Image&) {
             return fault::TooManyChunks{0xFFFFFFFF, 17};
         }},
        {"coded entries cut short", kTwoVariable, [](Image& i) { i.bytes.resize(125 + 8 + 2); },
         nullptr, [](const Image&) { return fault::Truncated{}; }},
        {"fixed table with a chunk too few for the points",
         {kThreeFixed.chunks, 4, 13},
         nullptr,
         nullptr,
         [](const Image&) {
             return fault::WrongFixedCount{3, 13, 4, 4};
         }},
        {"fixed table with a chunk too many for the points",
         {kThreeFixed.chunks, 4, 8},
         nullptr,
         nullptr,
         [](const Image&) {
             return fault::WrongFixedCount{3, 8, 4, 2};
         }},
        {"chunks hold fewer points than the header states",
         {kTwoVariable.chunks, kVariable, 9},
         nullptr,
         nullptr,
         [](const Image&) { return fault::PointsDiffer{8}; }},
        {"chunks hold more points than the header states",
         {kTwoVariable.chunks, kVariable, 7},
         nullptr,
         nullptr,
         [](const Image&) { return fault::PointsDiffer{8}; }},
        {"a byte between the last chunk and the table", kTwoVariable,
         [](Image& i) {
             i.bytes.insert(i.bytes.begin() + 125, std::byte{0});
             set_offset(i, 126);
         },
         nullptr,
         [](const Image&) {
             return fault::BytesDiffer{17, 18};
         }},

        {"the offset cannot be read", kTwoVariable, nullptr,
         [](const Image&) {
             return Trouble{kStart, {0, true, EIO}};
         },
         [](const Image&) {
             return fault::ReadFailed{kStart, 8, {0, true, EIO}};
         }},
        {"the offset at the end comes back short", at_end, nullptr,
         [](const Image& i) {
             return Trouble{i.bytes.size() - 8, {3, false, 0}};
         },
         [](const Image& i) {
             return fault::ReadFailed{i.bytes.size() - 8, 8, {3, false, 0}};
         }},
        {"the table header cannot be read", kTwoVariable, nullptr,
         [](const Image&) {
             return Trouble{125, {0, true, EIO}};
         },
         [](const Image&) {
             return fault::ReadFailed{125, 8, {0, true, EIO}};
         }},
        {"the coded entries come back short", kTwoVariable, nullptr,
         [](const Image&) {
             return Trouble{133, {1, false, 0}};
         },
         [](const Image& i) {
             return fault::ReadFailed{133, i.bytes.size() - 133, {1, false, 0}};
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Image image = build(row.layout);
        if (row.alter) row.alter(image);
        const auto read =
            reader_of(image.bytes, row.trouble ? std::optional(row.trouble(image)) : std::nullopt);
        const ChunkTableReading got = korvane::laz::read_chunk_table(
            read, {kStart, image.bytes.size(), row.layout.point_count},
            record_of(row.layout.chunk_size));
        EXPECT_EQ(got, row.expected(image));
    }
}

// The table of each real sample lists its chunks as the sample's header and a decoding of its
// table of our own tests (laz_sample) find them.
TEST(ChunkTableReader, RealLazSamples) {
    const char* const names[] = {"simple.laz", "autzen_trim.laz", "1_4_w_evlr.laz",
                                 "laszip-generated.laz"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        std::string error;
        const auto sample =
            testing_support::load_laz_sample(std::string(SAMPLES_DIR) + "/" + name, error);
        ASSERT_TRUE(sample) << error;
        const std::vector<std::byte>& b = sample->bytes;
        const auto start = testing_support::get<std::uint32_t>(b, 96);
        const ChunkTableReading got = korvane::laz::read_chunk_table(
            reader_of(b, std::nullopt), {start, b.size(), sample->point_count}, sample->laszip);
        const auto* found = std::get_if<FoundChunkTable>(&got);
        ASSERT_NE(found, nullptr);
        ASSERT_EQ(found->entries.size(), sample->chunks.size());
        std::uint64_t points = 0;
        for (std::size_t c = 0; c < found->entries.size(); ++c) {
            EXPECT_EQ(found->entries[c].points, sample->chunks[c].points);
            EXPECT_EQ(found->entries[c].bytes, sample->chunks[c].bytes.size());
            points += found->entries[c].points;
        }
        EXPECT_EQ(points, sample->point_count);
        EXPECT_EQ(found->chunks.offset, start + 8);
        EXPECT_EQ(found->table.offset, found->chunks.end());
        EXPECT_EQ(testing_support::get<std::uint32_t>(b, found->table.offset + 4),
                  found->entries.size());
        EXPECT_LE(found->table.end(), b.size());
    }
}

}  // namespace
