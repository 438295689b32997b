// `Quillet --extended` on generated LAS 1.3 and 1.4 files: what it merges, byte for byte, and
// what it refuses, with the message that says why. Classic runs stay as they were.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "child_process.hpp"
#include "merge_fixture.hpp"

namespace {

using lassynth::LasFile;
using testing_support::ChildResult;
using testing_support::expect_refused;
using testing_support::kBanner;
using testing_support::run_quillet_in;
using testing_support::ScratchDir;
using testing_support::Tile;
using testing_support::write_tiles;

constexpr std::size_t kEvlrCountAt = 243;
constexpr std::size_t kPointCountAt = 247;
constexpr std::size_t kByReturnAt = 255;

LasFile extended(std::uint8_t minor, std::uint8_t format, std::size_t count,
                 std::uint16_t extra = 0) {
    return lassynth::make_las_extended(minor, format, lassynth::random_points(count, 7, 0, 0),
                                       extra);
}

std::vector<std::byte> text_bytes(std::string_view text) {
    const auto* p = reinterpret_cast<const std::byte*>(text.data());
    return {p, p + text.size()};
}

// An Extra Bytes record describing `extra` bytes, one unsigned char each, named by `tag`.
std::vector<std::byte> extra_bytes_vlr(std::uint16_t extra, char tag) {
    std::vector<std::byte> payload(192 * std::size_t{extra}, std::byte{0});
    for (std::size_t i = 0; i < extra; ++i) {
        payload[i * 192 + 2] = std::byte{1};  // data type: unsigned char
        payload[i * 192 + 4] = std::byte(tag);
    }
    return lassynth::vlr("LASF_Spec", 4, payload);
}

void add_vlr(LasFile& f, const std::vector<std::byte>& record) {
    f.between.insert(f.between.end(), record.begin(), record.end());
    ++f.header.NumberOfVariableLengthRecords;
    f.lay_out();
}

void add_evlr(LasFile& f, const std::vector<std::byte>& record) {
    f.after.insert(f.after.end(), record.begin(), record.end());
    f.set_extension_u32(kEvlrCountAt,
                        static_cast<std::uint32_t>(f.extension_u64(kEvlrCountAt)) + 1);
    f.lay_out();
}

// The merge of `first` with `second`, as the extended merge writes it: the first file's header
// block with the counts given, its VLRs and EVLRs without those of cloud optimised LAZ, and
// both files' records.
LasFile expected_merge(LasFile first, const LasFile& second, std::uint32_t legacy_count,
                       std::uint64_t count) {
    LasFile merged = std::move(first);
    merged.points.insert(merged.points.end(), second.points.begin(), second.points.end());
    merged.header.NumberOfPointReturns = legacy_count;
    for (int r = 0; r < 5; ++r)
        merged.header.NumberOfPointsByReturn[r] =
            legacy_count == 0
                ? 0
                : merged.header.NumberOfPointsByReturn[r] + second.header.NumberOfPointsByReturn[r];
    if (merged.header.VersionMinor == 4) {
        merged.set_extension_u64(kPointCountAt, count);
        for (std::size_t r = 0; r < 15; ++r)
            merged.set_extension_u64(kByReturnAt + 8 * r,
                                     merged.extension_u64(kByReturnAt + 8 * r) +
                                         second.extension_u64(kByReturnAt + 8 * r));
    }
    merged.lay_out();
    return merged;
}

TEST(ExtendedMerge, VersionsFormatsAndRecords) {
    // Each row merges a generated file with itself (or with a file of no points) and states
    // the counts the merged header must hold.
    struct Row {
        const char* what;
        LasFile first;
        LasFile second;
        LasFile expected;
    };
    std::vector<Row> rows;
    auto twice = [&](const char* what, LasFile f, std::uint32_t legacy, std::uint64_t count) {
        LasFile expected = expected_merge(f, f, legacy, count);
        rows.push_back({what, f, f, std::move(expected)});
    };
    twice("LAS 1.3 format 1", extended(3, 1, 40), 80, 80);
    twice("LAS 1.4 format 0", extended(4, 0, 40), 80, 80);
    twice("LAS 1.4 format 3", extended(4, 3, 40), 80, 80);
    twice("LAS 1.4 format 6", extended(4, 6, 40), 0, 80);
    twice("LAS 1.4 format 7", extended(4, 7, 40), 0, 80);
    twice("LAS 1.4 format 8", extended(4, 8, 40), 0, 80);
    {
        LasFile f = extended(4, 6, 40, 3);
        add_vlr(f, extra_bytes_vlr(3, 'a'));
        twice("LAS 1.4 format 6 with 3 extra bytes", f, 0, 80);
    }
    {
        LasFile f = extended(4, 7, 40);
        const std::vector<std::byte> wkt = text_bytes("PROJCS[\"synthetic\"]");
        add_evlr(f, lassynth::evlr("LASF_Projection", 2112, wkt));
        add_evlr(f, lassynth::evlr("Korvane", 7, text_bytes("notes")));
        twice("a first file with EVLRs", f, 0, 80);
    }
    {
        // A cloud optimised file's own records are left out: its VLR and hierarchy EVLR.
        LasFile f = extended(4, 6, 40);
        LasFile plain = f;
        add_evlr(plain, lassynth::evlr("Korvane", 7, text_bytes("kept")));
        LasFile copc = plain;
        const std::vector<std::byte> info(160, std::byte{3});
        const std::vector<std::byte> info_vlr = lassynth::vlr("copc", 1, info);
        copc.between.insert(copc.between.begin(), info_vlr.begin(), info_vlr.end());
        ++copc.header.NumberOfVariableLengthRecords;
        add_evlr(copc, lassynth::evlr("copc", 1000, info));
        copc.lay_out();
        rows.push_back({"copc records", copc, copc, expected_merge(plain, plain, 0, 80)});
    }
    {
        // A file of no points with a box of zeros: the box is the other file's.
        LasFile f = extended(4, 6, 40);
        LasFile empty = extended(4, 6, 0);
        rows.push_back({"a 0-point input", f, empty, expected_merge(f, empty, 0, 40)});
        LasFile expected = expected_merge(empty, f, 0, 40);
        LAS12Header& h = expected.header;
        h.MinX = f.header.MinX, h.MaxX = f.header.MaxX, h.MinY = f.header.MinY;
        h.MaxY = f.header.MaxY, h.MinZ = f.header.MinZ, h.MaxZ = f.header.MaxZ;
        rows.push_back({"a 0-point first input", empty, f, expected});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScratchDir dir;
        const std::string list = write_tiles(dir, {{"a.las", row.first}, {"b.las", row.second}});
        const ChildResult r = run_quillet_in(dir, {"--extended", list, "m.las"});
        ASSERT_EQ(r.exit_status, 0) << r.out;
        EXPECT_EQ(lassynth::read_bytes(dir / "m.las"), row.expected.bytes());
    }
}

TEST(ExtendedMerge, RecordsNewToTheMergeOfTheClassicVersions) {
    // LAS 1.1 with point format 3 and LAS 1.2 with extra bytes: refused by the classic merge,
    // merged by the extended one exactly as the classic merge would lay them out.
    struct Row {
        const char* what;
        std::uint8_t minor, format;
        std::uint16_t extra;
    };
    for (const Row& row :
         {Row{"LAS 1.1 format 3", 1, 3, 0}, Row{"LAS 1.2 format 1 + 4", 2, 1, 4}}) {
        SCOPED_TRACE(row.what);
        ScratchDir dir;
        std::vector<Tile> tiles = {
            testing_support::make_tile("a.las", row.minor, row.format, 30, 1),
            testing_support::make_tile("b.las", row.minor, row.format, 20, 2)};
        for (Tile& t : tiles) {
            const std::uint16_t length = t.file.header.PointDataRecordLength;
            std::vector<std::byte> points;
            for (std::size_t i = 0; i + length <= t.file.points.size(); i += length) {
                points.insert(points.end(), t.file.points.begin() + i,
                              t.file.points.begin() + i + length);
                points.insert(points.end(), row.extra, std::byte{0x5A});
            }
            t.file.points = points;
            t.file.header.PointDataRecordLength = length + row.extra;
        }
        const std::string list = write_tiles(dir, tiles);
        const ChildResult r = run_quillet_in(dir, {"--extended", list, "m.las"});
        ASSERT_EQ(r.exit_status, 0) << r.out;
        EXPECT_EQ(lassynth::read_bytes(dir / "m.las"), testing_support::expected_merge(tiles));
    }
}

TEST(ExtendedMerge, Refusals) {
    struct Case {
        const char* what;
        void (*change_first)(LasFile&);
        void (*change_second)(LasFile&);
        std::string message;  // a.las is the first file, b.las the second
        const char* output = "m.las";
    };
    auto none = [](LasFile&) {};
    const Case cases[] = {
        // Versions and formats that differ merge (the output's schema holds them all), except
        // beside extra bytes that no record describes.
        {"record lengths differ by undescribed extra bytes", none,
         [](LasFile& f) { f = extended(4, 6, 10, 2); },
         "\nRecord length of b.las is 32; the first file, a.las, has 30\n"},
        // Grids that differ merge when no point moves; these would move points.
        {"a scale that is not a whole multiple", none,
         [](LasFile& f) { f.header.YScaleFactor = 0.003; },
         "\nYScaleFactor of a.las is 0.01, which is not a whole multiple of the output's 0.003: "
         "its points would move by up to 88.7 (--rescale rounds them)\n"},
        {"an offset that is not a whole number of steps", none,
         [](LasFile& f) { f.header.ZOffset = 0.1 + 0.2 + 0.01 / 3; },
         "\nZOffset of b.las is 0.3033333333333334, which is not a whole number of the output's "
         "steps of 0.01 from 0: its points would move by 0.00333 (--rescale rounds them)\n"},
        {"GPS time types differ", none, [](LasFile& f) { f.header.GlobalEncoding = 0; },
         "\nGPS time of b.las is GPS week time; the first file, a.las, has adjusted standard "
         "time\n"},
        {"extra bytes records differ", [](LasFile& f) { add_vlr(f, extra_bytes_vlr(1, 'a')); },
         [](LasFile& f) { add_vlr(f, extra_bytes_vlr(1, 'b')); },
         "\nExtra Bytes record of b.las is 192 bytes of other content; the first file, a.las, "
         "has 192 bytes\n"},
        {"an extra bytes record missing", [](LasFile& f) { add_vlr(f, extra_bytes_vlr(1, 'a')); },
         none, "\nExtra Bytes record of b.las is none; the first file, a.las, has 192 bytes\n"},
        {"waveform packets", [](LasFile& f) { f.header.PointDataFormatID = 4; }, none,
         "\na.las holds point format 4, whose waveform packets point into its own waveform data: "
         "it cannot be merged\n"},
        {"format 6 in LAS 1.3", [](LasFile& f) { f.header.VersionMinor = 3; }, none,
         "\nPoint format 6 of a.las is not a point format of LAS 1.3\n"},
        {"record shorter than its format", [](LasFile& f) { f.header.PointDataRecordLength = 28; },
         none, "\nRecord length of a.las (28) is shorter than point format 6 needs (30)\n"},
        {"legacy count differs", [](LasFile& f) { f.header.NumberOfPointReturns = 9; }, none,
         "\na.las states 9 points in its legacy count and 10 in its 64-bit count\n"},
        {"LAS 1.5", [](LasFile& f) { f.header.VersionMinor = 5; }, none,
         "\na.las is LAS 1.5; Quillet --extended merges LAS 1.0 to 1.4\n"},
        {"not LAS", [](LasFile& f) { std::memcpy(f.header.LASF, "LAZF", 4); }, none,
         "\na.las is not a LAS or LAZ file: it does not begin with LASF\n"},
        {"header block too small", [](LasFile& f) { f.header.HeaderSize = 235; }, none,
         "\nHeaderSize of a.las (235) is smaller than a LAS 1.4 header (375 bytes)\n"},
        {"points missing", [](LasFile& f) { f.points.resize(f.points.size() - 1); }, none,
         "\na.las is too short: its point records end at byte 745, the file has 744 bytes\n"},
        {"EVLRs missing",
         [](LasFile& f) {
             f.set_extension_u32(kEvlrCountAt, 1);
             f.set_extension_u64(235, f.header.OffsetToData + f.points.size());
         },
         none,
         "\na.las is too short: its extended variable length records end at byte 805, the file "
         "has 745 bytes\n"},
        {"EVLRs inside the points",
         [](LasFile& f) {
             add_evlr(f, lassynth::evlr("Korvane", 1, {}));
             f.set_extension_u64(235, 700);
         },
         none,
         "\nThe extended variable length records of a.las start at byte 700, inside its point "
         "data (which ends at byte 745)\n"},
        {"VLRs beyond the end", [](LasFile& f) { f.header.OffsetToData = 5000; }, none,
         "\na.las is too short: its header and variable length records end at byte 5000, the "
         "file has 745 bytes\n"},
        {"an EVLR longer than the file",
         [](LasFile& f) {
             add_evlr(f, lassynth::evlr("Korvane", 1, text_bytes("x")));
             f.after[20] = std::byte{0x40};  // its payload length, now 64 bytes
         },
         none,
         "\na.las is too short: its extended variable length record 1 holds 64 bytes from byte "
         "805, the file has 806 bytes\n"},
        {"output named neither .las nor .laz", none, none,
         "\nFile extension of m.txt is not .las\n\nOutput file should have .las or .laz "
         "extension\n",
         "m.txt"},
        {"output named .LAZ", none, none,
         "\nFile extension of m.LAZ is not .las\n\nOutput file should have .las or .laz "
         "extension\n",
         "m.LAZ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        LasFile a = extended(4, 6, 10), b = extended(4, 6, 10);
        c.change_first(a);
        c.change_second(b);
        expect_refused(dir,
                       {"--extended", write_tiles(dir, {{"a.las", a}, {"b.las", b}}), c.output},
                       c.message);
    }
}

TEST(ExtendedMerge, CoordinateSystemsThatDifferAreWarnedAbout) {
    // The merge goes on with the first file's records; each file that differs is named once.
    ScratchDir dir;
    std::vector<Tile> tiles;
    for (const char* name : {"a.las", "b.las", "c.las"}) {
        LasFile f = extended(4, 6, 10);
        add_evlr(f, lassynth::evlr("LASF_Projection", 2112, text_bytes(name)));
        tiles.push_back({name, f});
    }
    tiles[2].file.after = tiles[0].file.after;  // c.las shares a.las's system
    const ChildResult r = run_quillet_in(dir, {"--extended", write_tiles(dir, tiles), "m.las"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.out.substr(std::strlen(kBanner), r.out.find("30 points") - std::strlen(kBanner)),
              "\nWARNING: The coordinate reference system records of b.las differ from those of "
              "the first file, a.las; the merged file keeps the first file's\n");
    LasFile merged = expected_merge(tiles[0].file, tiles[1].file, 0, 20);
    merged = expected_merge(merged, tiles[2].file, 0, 30);
    EXPECT_EQ(lassynth::read_bytes(dir / "m.las"), merged.bytes());
}

TEST(ExtendedMerge, PointTotalBeyondWhatLas13CanStateUpgradesTheHeader) {
    // Sparse files of LAS 1.3: their headers state 4,294,967,295 points between them, plus one,
    // which a LAS 1.4 header states; their records go in as they are.
    ScratchDir dir;
    for (const auto& [name, points] : {std::pair{"a.las", 4000000000u}, {"b.las", 294967296u}}) {
        LasFile f = extended(3, 0, 0);
        f.header.NumberOfPointReturns = points;
        f.write(dir / name);
        ASSERT_EQ(::truncate((dir / name).c_str(), f.header.OffsetToData + off_t{points} * 20), 0);
    }
    dir.write_text("list.txt", "a.las b.las");
    const ChildResult r = run_quillet_in(dir, {"--extended", "--dry-run", "list.txt", "m.las"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_TRUE(
        r.out.ends_with("\n2 files to be merged into m.las\n"
                        "Output: LAS 1.4, point format 0, record length 20\n"))
        << r.out;
}

TEST(ExtendedMerge, ClassicRunsAreUnchangedAndPointToTheOption) {
    // The classic merge refuses as it always did; standard error names the option when the
    // extended merge would take the file, and stays silent when it would not either.
    struct Case {
        LasFile file;
        std::string out;
        std::string err;
    };
    LasFile waveform = extended(3, 1, 5);
    waveform.header.PointDataFormatID = 4;
    const Case cases[] = {
        {extended(4, 6, 5),
         "\nCannot handle las files of version 1.4\nx.las (listed in list.txt) is not a valid LAS "
         "file\n",
         "x.las is LAS 1.4 with point format 6: Quillet --extended merges it\n"},
        {waveform,
         "\nCannot handle las files of version 1.3\nx.las (listed in list.txt) is not a valid LAS "
         "file\n",
         ""},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        c.file.write(dir / "x.las");
        dir.write_text("list.txt", "x.las x.las");
        const ChildResult r = run_quillet_in(dir, {"list.txt", "m.las"});
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out, kBanner + c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

}  // namespace
