// Quillet as a user meets it: the built program run as a child process, its standard output,
// its exit status and the bytes of the file it writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "child_process.hpp"
#include "merge_fixture.hpp"

namespace {

using testing_support::ChildResult;
using testing_support::expect_refused;
using testing_support::file_exists;
using testing_support::kBanner;
using testing_support::list_dir;
using testing_support::make_tile;
using testing_support::run_quillet_in;
using testing_support::ScratchDir;
using testing_support::Tile;
using testing_support::write_tiles;

std::string progress(const std::vector<Tile>& tiles) {
    std::string text;
    for (std::size_t i = 0; i < tiles.size(); ++i)
        text += "\r" + tiles[i].name + " (" + std::to_string(i + 1) + " / " +
                std::to_string(tiles.size()) + ")" + std::string(20, ' ');
    return text;
}

TEST(MergeCli, ArgumentCountOtherThanTwo) {
    ScratchDir dir;
    const std::string expected = std::string("\nMissing, or excessive number of, arguments\n") +
                                 "Usage:\nQuillet <ASCII List> <LAS Output>\n\n" + kBanner;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"list.txt"}, {"list.txt", "out.las", "extra"}}) {
        const ChildResult r = run_quillet_in(dir, args);
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.err, "");
    }
}

TEST(MergeCli, MergesTilesInListOrder) {
    ScratchDir dir;
    const std::vector<Tile> tiles = {make_tile("a.las", 2, 1, 300, 1),
                                     make_tile("b.las", 2, 1, 7, 2),
                                     make_tile("c.las", 2, 1, 1000, 3)};
    const std::string list = write_tiles(dir, tiles);
    const ChildResult r = run_quillet_in(dir, {list, "merged.las"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, std::string(kBanner) + "1307 points in all input .las files\n" +
                         "\n3 files to be merged into merged.las\n" + progress(tiles));
    EXPECT_EQ(lassynth::read_bytes(dir / "merged.las"), testing_support::expected_merge(tiles));
    EXPECT_EQ(list_dir(dir.path()),
              (std::vector<std::string>{"a.las", "b.las", "c.las", "list.txt", "merged.las"}));
}

TEST(MergeCli, EveryTypeCodeMergesByteForByte) {
    struct Case {
        std::uint8_t minor, format;
    };
    for (const Case c : {Case{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {2, 2}, {2, 3}}) {
        ScratchDir dir;
        // The 1.0 tiles carry the two-byte point data start signature before their points.
        const std::vector<Tile> tiles = {make_tile("x.las", c.minor, c.format, 50, 4),
                                         make_tile("y.las", c.minor, c.format, 60, 5)};
        const ChildResult r = run_quillet_in(dir, {write_tiles(dir, tiles), "m.las"});
        EXPECT_EQ(r.exit_status, 0) << r.out;
        EXPECT_EQ(lassynth::read_bytes(dir / "m.las"), testing_support::expected_merge(tiles))
            << "1." << int{c.minor} << " format " << int{c.format};
    }
}

TEST(MergeCli, CountsAndBoxOfTheMergedHeader) {
    // Three and four format-0 points with the point data right after the header.
    ScratchDir dir;
    std::vector<Tile> tiles = {make_tile("a.las", 2, 0, 3, 1, false),
                               make_tile("b.las", 2, 0, 4, 2, false)};
    // The boxes are merged from the headers' stored extents, not from the points.
    auto set_box = [](LAS12Header& h, double x0, double x1, double y0, double y1, double z0,
                      double z1) {
        h.MinX = x0, h.MaxX = x1, h.MinY = y0, h.MaxY = y1, h.MinZ = z0, h.MaxZ = z1;
    };
    set_box(tiles[0].file.header, 0, 10, 0, 10, 0, 5);
    set_box(tiles[1].file.header, 5, 20, -3, 8, 1, 9);
    const ChildResult r = run_quillet_in(dir, {write_tiles(dir, tiles), "m.las"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("7 points in all input .las files\n"), std::string::npos);

    const std::vector<std::byte> bytes = lassynth::read_bytes(dir / "m.las");
    ASSERT_EQ(bytes.size(), 227u + 7 * 20);
    LAS12Header h;
    std::memcpy(&h, bytes.data(), sizeof h);
    EXPECT_EQ(std::uint32_t{h.NumberOfPointReturns}, 7u);
    const std::uint32_t by_return_sum =
        h.NumberOfPointsByReturn[0] + h.NumberOfPointsByReturn[1] + h.NumberOfPointsByReturn[2];
    EXPECT_EQ(by_return_sum, 7u);
    EXPECT_EQ(std::vector<double>({h.MinX, h.MaxX, h.MinY, h.MaxY, h.MinZ, h.MaxZ}),
              std::vector<double>({0, 20, -3, 10, 0, 9}));
    EXPECT_EQ(bytes, testing_support::expected_merge(tiles));
}

TEST(MergeCli, InputsWithDifferentOffsetsToData) {
    // Each input is read from its own OffsetToData; the merge keeps the first file's records
    // before the point data and none of the others'.
    ScratchDir dir;
    std::vector<Tile> tiles = {make_tile("vlr.las", 2, 3, 20, 1, true),
                               make_tile("plain.las", 2, 3, 30, 2, false),
                               make_tile("gap.las", 2, 3, 10, 3, true)};
    // Extra bytes between the last VLR and the point data.
    Tile& gap = tiles[2];
    gap.file.between.insert(gap.file.between.end(), 100, std::byte{0x5A});
    gap.file.header.OffsetToData += 100;
    const ChildResult r = run_quillet_in(dir, {write_tiles(dir, tiles), "m.las"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    const std::vector<std::byte> bytes = lassynth::read_bytes(dir / "m.las");
    EXPECT_EQ(bytes, testing_support::expected_merge(tiles));
    LAS12Header h;
    std::memcpy(&h, bytes.data(), sizeof h);
    EXPECT_EQ(+h.OffsetToData, +tiles[0].file.header.OffsetToData);
    EXPECT_EQ(+h.NumberOfVariableLengthRecords, 1u);
}

TEST(MergeCli, ZeroPointInputsContributeNothing) {
    ScratchDir dir;
    const std::vector<Tile> tiles = {make_tile("empty1.las", 2, 1, 0, 1),
                                     make_tile("full.las", 2, 1, 25, 2),
                                     make_tile("empty2.las", 2, 1, 0, 3)};
    const ChildResult r = run_quillet_in(dir, {write_tiles(dir, tiles), "m.las"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(lassynth::read_bytes(dir / "m.las"), testing_support::expected_merge(tiles));
}

TEST(MergeCli, SameFileListedTwiceIsMergedTwice) {
    ScratchDir dir;
    const Tile t = make_tile("a.las", 2, 0, 10, 1);
    t.file.write(dir / "a.las");
    dir.write_text("list.txt", "a.las\ta.las");
    const ChildResult r = run_quillet_in(dir, {"list.txt", "m.las"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(lassynth::read_bytes(dir / "m.las"), testing_support::expected_merge({t, t}));
}

TEST(MergeCli, ListsThatAreRefused) {
    ScratchDir dir;
    make_tile("a.las", 2, 1, 5, 1).file.write(dir / "a.las");
    make_tile("old.las", 1, 1, 5, 2).file.write(dir / "old.las");
    lassynth::make_las(0, 3, {}, false).write(dir / "v10f3.las");
    struct Case {
        const char* what;
        std::string list;
        std::string message;
    };
    const Case cases[] = {
        {"empty list", "", "\nFile list.txt contains no valid .las files\n"},
        {"blank list", " \n\t\n", "\nFile list.txt contains no valid .las files\n"},
        {"one file", "a.las\n", "\nAt least two .las files required in list.txt\n"},
        {"mixed types", "a.las old.las\n",
         "\nType of file old.las differs from that of previous files in list.txt\n"},
        {"LAS 1.0 with format 3", "a.las v10f3.las",
         "v10f3.las (listed in list.txt) is not a valid LAS file\n"},
        {"missing file", "a.las nope.las",
         "Unable to open file nope.las in file_access()\n\nFile nope.las does NOT exist\n"
         "nope.las (listed in list.txt) is not a valid LAS file\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dir.write_text("list.txt", c.list);
        expect_refused(dir, {"list.txt", "out.las"}, c.message);
    }
    expect_refused(dir, {"nolist.txt", "out.las"},
                   "\nCannot open input ASCII file nolist.txt for reading\n");
}

TEST(MergeCli, OutputNameWithoutLasExtension) {
    ScratchDir dir;
    const std::string list =
        write_tiles(dir, {make_tile("a.las", 2, 1, 5, 1), make_tile("b.las", 2, 1, 5, 2)});
    expect_refused(dir, {list, "out.txt"},
                   "\nFile extension of out.txt is not .las\n"
                   "\nOutput file should have .las extension\n");
    expect_refused(dir, {list, "out.LAS"},
                   "\nFile extension of out.LAS is not .las\n"
                   "\nOutput file should have .las extension\n");
}

TEST(MergeCli, ScaleOffsetMismatchNamesTheFirstDifferingFile) {
    struct Case {
        const char* field;
        void (*change)(LAS12Header&);
    };
    const Case cases[] = {
        {"XScaleFactor", [](LAS12Header& h) { h.XScaleFactor = 0.001; }},
        {"YScaleFactor", [](LAS12Header& h) { h.YScaleFactor = 0.1; }},
        {"ZScaleFactor", [](LAS12Header& h) { h.ZScaleFactor = std::nextafter(0.01, 1.0); }},
        {"XOffset", [](LAS12Header& h) { h.XOffset += 1; }},
        {"YOffset", [](LAS12Header& h) { h.YOffset = -h.YOffset; }},
        {"ZOffset", [](LAS12Header& h) { h.ZOffset = std::nan(""); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        ScratchDir dir;
        std::vector<Tile> tiles = {make_tile("a.las", 2, 1, 5, 1), make_tile("b.las", 2, 1, 5, 2),
                                   make_tile("c.las", 2, 1, 5, 3)};
        c.change(tiles[2].file.header);
        expect_refused(dir, {write_tiles(dir, tiles), "out.las"},
                       std::string("\n") + c.field +
                           " in c.las differs from that in previous .las files included in "
                           "list.txt\n");
    }
}

TEST(MergeCli, SignedZeroOffsetsAreEqual) {
    ScratchDir dir;
    std::vector<Tile> tiles = {make_tile("a.las", 2, 1, 5, 1), make_tile("b.las", 2, 1, 5, 2)};
    tiles[0].file.header.ZOffset = 0.0;
    tiles[1].file.header.ZOffset = -0.0;
    const ChildResult r = run_quillet_in(dir, {write_tiles(dir, tiles), "m.las"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
}

TEST(MergeCli, PointTotalAtTheSigned32BitLimitIsRefused) {
    // Sparse inputs: their headers state billions of points that take no disk space.
    ScratchDir dir;
    testing_support::write_sparse_las(dir / "big.las", 2, 0, 2000000000u);
    testing_support::write_sparse_las(dir / "rest.las", 2, 0, 147483647u);
    dir.write_text("list.txt", "big.las rest.las");
    expect_refused(dir, {"list.txt", "out.las"},
                   "\nERROR: The number of points in the merged .las file exceeds 2,147,483,647,\n"
                   "the 32-bit limit, and cannot be stored in the file's header.");

    // One point fewer passes the limit and warns about the size; the missing output directory
    // then stops the run before anything is copied.
    testing_support::write_sparse_las(dir / "rest.las", 2, 0, 147483646u);
    const ChildResult r = run_quillet_in(dir, {"list.txt", "nowhere/out.las"});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.out, std::string(kBanner) + "2147483646 points in all input .las files\n" +
                         "\nWARNING: The output .las file will be 42949.673MB, which excceds the "
                         "32-bit limit (2,147MB)\n\n" +
                         "\n2 files to be merged into nowhere/out.las\n" +
                         "\nCannot open binary file nowhere/out.las for writing\n");
}

TEST(MergeCli, SizeWarningOfEightyMillionRecords) {
    ScratchDir dir;
    testing_support::write_sparse_las(dir / "a.las", 2, 1, 40000000u);
    testing_support::write_sparse_las(dir / "b.las", 2, 1, 40000000u);
    dir.write_text("list.txt", "a.las b.las");
    const ChildResult r = run_quillet_in(dir, {"list.txt", "nowhere/out.las"});
    EXPECT_NE(r.out.find("80000000 points in all input .las files\n\nWARNING: The output .las "
                         "file will be 2240.000MB, which excceds the 32-bit limit (2,147MB)\n\n"),
              std::string::npos)
        << r.out;
}

}  // namespace
