// A merge past 2^32 points by the header upgrade: LAS 1.2 LAZ tiles whose headers state 32-bit
// counts merge into one LAS 1.4 file. Its own program, labelled slow: under the sanitizers its
// 88,000 copied chunks take minutes and check nothing the other merges do not.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <span>

#include "byte_fields.hpp"
#include "laz_merge_fixture.hpp"

namespace {

using Bytes = std::vector<std::byte>;
using testing_support::get;

class FourBillionPoints : public testing_support::LazMergeFixture {};

// Two LAS 1.2 LAZ tiles of 2.2 billion points each (one chunk of 50,000 identical points
// repeated by lazgen, 15 MB each) merge into LAS 1.4: the header upgraded to 375 bytes with the
// 64-bit counts past 2^32 and the legacy ones 0, every chunk copied as it is. laz-perf decodes the
// first and the last chunk of the output into the tile's records.
TEST_F(FourBillionPoints, MergedByTheHeaderUpgrade) {
    constexpr std::uint32_t kChunk = 50000, kCopies = 44000;
    constexpr std::uint64_t kTotal = 2ull * kChunk * kCopies;
    static_assert(kTotal > 0xFFFFFFFFull);
    std::vector<lassynth::Point> points(kChunk, lassynth::Point{120, -5, 7, 1});
    lassynth::LasFile one = lassynth::make_las(2, 0, points, false);
    lassynth::write_bytes(dir_ / "one.las", one.bytes());
    lassynth::write_bytes(dir_ / "none.las", lassynth::make_las(2, 0, {}, false).bytes());
    ASSERT_EQ(merge(dir_, {"one.las", "none.las"}, "one.laz").exit_status, 0);
    for (const char* tile : {"a.laz", "b.laz"})
        ASSERT_EQ(testing_support::run_child(
                      {LAZGEN_EXE, dir_ / "one.laz", dir_ / tile, std::to_string(kCopies)})
                      .exit_status,
                  0);

    const testing_support::ChildResult r = merge(dir_, {"a.laz", "b.laz"}, "m.laz");
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("Output: LAS 1.4, point format 0, record length 20\n"), std::string::npos)
        << r.out;
    const Bytes tile = lassynth::read_bytes(dir_ / "a.laz");
    const Bytes out = lassynth::read_bytes(dir_ / "m.laz");
    EXPECT_EQ(get<std::uint8_t>(out, 25), 4);
    EXPECT_EQ(get<std::uint16_t>(out, 94), 375);
    EXPECT_EQ(get<std::uint32_t>(out, 96), get<std::uint32_t>(tile, 96) + 375 - 227);
    EXPECT_EQ(get<std::uint32_t>(out, 107), 0u) << "legacy point count";
    for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(get<std::uint32_t>(out, 111 + 4 * k), 0u);
    EXPECT_EQ(get<std::uint64_t>(out, 247), kTotal);
    EXPECT_EQ(get<std::uint64_t>(out, 255), kTotal) << "first returns";
    EXPECT_EQ(get<std::uint64_t>(out, 235), 0u) << "EVLR start";
    // The chunks: the tile's, back to back, twice over, then the table of every one of them.
    const std::size_t tile_data = get<std::uint32_t>(tile, 96) + 8;
    const std::size_t tile_table = get<std::uint64_t>(tile, tile_data - 8);
    const std::size_t chunk = (tile_table - tile_data) / kCopies;
    const std::size_t data = get<std::uint32_t>(out, 96) + 8;
    const std::size_t table = get<std::uint64_t>(out, data - 8);
    ASSERT_EQ(table - data, 2 * (tile_table - tile_data));
    const std::span<const std::byte> tile_chunks =
        std::span<const std::byte>(tile).subspan(tile_data, tile_table - tile_data);
    for (std::size_t half = 0; half < 2; ++half)
        EXPECT_TRUE(std::ranges::equal(std::span<const std::byte>(out).subspan(
                                           data + half * tile_chunks.size(), tile_chunks.size()),
                                       tile_chunks))
            << "tile " << half << "'s chunks are not copied as they are";
    EXPECT_EQ(get<std::uint32_t>(out, table + 4), 2 * kCopies) << "chunks in the table";
    const std::span<const std::byte> coded(out);
    const testing_support::CodedChunk ends[] = {{kChunk, coded.subspan(data, chunk)},
                                                {kChunk, coded.subspan(table - chunk, chunk)}};
    std::string error;
    const auto decoded = testing_support::decode_laz_chunks(0, 20, ends, error);
    ASSERT_TRUE(decoded) << error;
    // A cloud optimised output of that many points is refused before anything is written.
    const testing_support::ChildResult copc =
        testing_support::run_quillet_in(dir_, {"-o", "m.copc.laz", "a.laz", "b.laz"});
    EXPECT_EQ(copc.exit_status, 255);
    EXPECT_NE(copc.out.find("\nA cloud optimised output of more than 4,294,967,295 points is not "
                            "written yet: these inputs hold 4400000000\n"),
              std::string::npos)
        << copc.out;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "m.copc.laz"));
    Bytes twice = one.points;
    twice.insert(twice.end(), one.points.begin(), one.points.end());
    EXPECT_EQ(*decoded, twice);
}

}  // namespace
