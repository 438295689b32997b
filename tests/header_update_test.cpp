// Recomputing a LAS file's header statistics in place: counts, counts by return and bounding
// box from the point records, every other byte left alone, and failures that leave the file as
// it was.
#include "header_update.hpp"

#include <Korvane_LiDAR.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "captured_output.hpp"
#include "child_process.hpp"
#include "fault_injecting_fs.hpp"
#include "las_classify.hpp"
#include "las_header.hpp"
#include "las_synth.hpp"
#include "scratch_dir.hpp"

namespace {

using lassynth::Point;
using testing_support::Call;
using testing_support::FaultInjectingFs;
using testing_support::ScratchDir;

constexpr std::int32_t kI32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kI32Min = std::numeric_limits<std::int32_t>::min();

struct TypeCase {
    std::int16_t code;
    std::uint8_t minor;
    std::uint8_t format;
    std::size_t record;
};

constexpr TypeCase kTypes[] = {{1, 0, 0, 20}, {2, 0, 1, 28}, {3, 1, 0, 20}, {4, 1, 1, 28},
                               {5, 2, 0, 20}, {6, 2, 1, 28}, {7, 2, 2, 26}, {8, 2, 3, 34}};

// Standard output of an in-process call.
using Capture = testing_support::CapturedOutput;

std::string updated_line(const std::string& path) {
    return "\rHeader of file " + path + " has been updated    ";
}

// raw x scale, rounded, then + offset: what the header must state for a raw extreme.
double real(std::int32_t raw, double scale, double offset) {
    const volatile double product = static_cast<double>(raw) * scale;
    return product + offset;
}

// The statistics the header must state for `points`, worked out from the points alone.
struct Expected {
    std::uint32_t count = 0;
    std::uint32_t by_return[5] = {};
    double max_x, min_x, max_y, min_y, max_z, min_z;
};

Expected expected_for(std::span<const Point> points, const LAS12Header& h) {
    Expected e;
    std::int32_t hi[3] = {-2147483646, -2147483646, -10000000};
    std::int32_t lo[3] = {2147483646, 2147483646, 10000000};
    if (!points.empty()) {
        hi[0] = hi[1] = hi[2] = kI32Min;
        lo[0] = lo[1] = lo[2] = kI32Max;
    }
    for (const Point& p : points) {
        const std::int32_t c[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a) {
            hi[a] = std::max(hi[a], c[a]);
            lo[a] = std::min(lo[a], c[a]);
        }
        if (p.return_number >= 1 && p.return_number <= 5) ++e.by_return[p.return_number - 1];
        ++e.count;
    }
    e.max_x = real(hi[0], h.XScaleFactor, h.XOffset);
    e.min_x = real(lo[0], h.XScaleFactor, h.XOffset);
    e.max_y = real(hi[1], h.YScaleFactor, h.YOffset);
    e.min_y = real(lo[1], h.YScaleFactor, h.YOffset);
    e.max_z = real(hi[2], h.ZScaleFactor, h.ZOffset);
    e.min_z = real(lo[2], h.ZScaleFactor, h.ZOffset);
    return e;
}

LAS12Header header_of(const std::vector<std::byte>& file) {
    korvane::HeaderBytes bytes;
    std::copy_n(file.begin(), bytes.size(), bytes.begin());
    return korvane::header_from_bytes(bytes);
}

// The statistics a file's header states, copied out of the packed record (the assertions
// take references, which packed fields cannot give).
Expected stated(const std::vector<std::byte>& file) {
    const LAS12Header h = header_of(file);
    Expected s;
    s.count = h.NumberOfPointReturns;
    for (int i = 0; i < 5; ++i) s.by_return[i] = h.NumberOfPointsByReturn[i];
    s.max_x = h.MaxX;
    s.min_x = h.MinX;
    s.max_y = h.MaxY;
    s.min_y = h.MinY;
    s.max_z = h.MaxZ;
    s.min_z = h.MinZ;
    return s;
}

void expect_statistics(const std::vector<std::byte>& file, const Expected& e,
                       const std::string& what) {
    SCOPED_TRACE(what);
    const Expected s = stated(file);
    EXPECT_EQ(s.count, e.count);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s.by_return[i], e.by_return[i]) << i + 1;
    // Exact comparisons: the same two roundings give the same double.
    EXPECT_EQ(s.max_x, e.max_x);
    EXPECT_EQ(s.min_x, e.min_x);
    EXPECT_EQ(s.max_y, e.max_y);
    EXPECT_EQ(s.min_y, e.min_y);
    EXPECT_EQ(s.max_z, e.max_z);
    EXPECT_EQ(s.min_z, e.min_z);
}

bool rewritten(std::size_t offset) {
    return (offset >= 107 && offset < 131) || (offset >= 179 && offset < 227);
}

// Same length, and every byte outside the rewritten header fields the same.
testing::AssertionResult only_statistics_changed(const std::vector<std::byte>& before,
                                                 const std::vector<std::byte>& after) {
    if (before.size() != after.size())
        return testing::AssertionFailure()
               << "length " << after.size() << ", was " << before.size();
    for (std::size_t i = 0; i < before.size(); ++i)
        if (!rewritten(i) && before[i] != after[i])
            return testing::AssertionFailure() << "byte " << i << " changed";
    return testing::AssertionSuccess();
}

// A file of LAS 1.minor and point format `format` holding `points`, with a projection-like
// VLR (and the LAS 1.0 start signature); its header's statistics are left at zero.
lassynth::LasFile las_file(std::uint8_t minor, std::uint8_t format, std::span<const Point> points) {
    lassynth::LasFile f;
    f.header = lassynth::new_header(minor, format);
    f.header.XOffset = 500000.0;
    f.header.YOffset = 4000000.0;
    const std::vector<std::byte> keys(16, std::byte{0x5A});
    f.between = lassynth::vlr("LASF_Projection", 34735, keys);
    f.header.NumberOfVariableLengthRecords = 1;
    if (minor == 0) f.between.insert(f.between.end(), {std::byte{0xDD}, std::byte{0xCC}});
    f.header.OffsetToData = static_cast<std::uint32_t>(sizeof(LAS12Header) + f.between.size());
    const std::size_t length = f.header.PointDataRecordLength;
    f.points.resize(points.size() * length);
    for (std::size_t i = 0; i < points.size(); ++i)
        lassynth::put_record(std::span(f.points).subspan(i * length, length), format, points[i],
                             static_cast<std::uint32_t>(i));
    return f;
}

// A file of the given type holding `points`, with scales and offsets that make every extent
// an inexact product, and stale statistics in its header.
lassynth::LasFile stale_file(const TypeCase& t, std::span<const Point> points) {
    lassynth::LasFile f = las_file(t.minor, t.format, points);
    f.header.XScaleFactor = 0.001;
    f.header.YScaleFactor = 0.01;
    f.header.ZScaleFactor = 0.0025;
    f.header.XOffset = 500000.25;
    f.header.YOffset = -4000000.5;
    f.header.ZOffset = 12.75;
    f.header.NumberOfPointReturns = 987654;
    for (int i = 0; i < 5; ++i) f.header.NumberOfPointsByReturn[i] = 77;
    f.header.MaxX = f.header.MinX = 1e300;
    f.header.MaxY = f.header.MinY = -1e300;
    f.header.MaxZ = f.header.MinZ = 3.5;
    return f;
}

// Points with every return number 0 to 7, negative and positive coordinates.
std::vector<Point> mixed_points(std::size_t n, std::uint32_t seed) {
    std::vector<Point> points = lassynth::random_points(n, seed, -50000, 20000, 100000);
    for (std::size_t i = 0; i < points.size(); ++i) {
        points[i].return_number = static_cast<std::uint8_t>(i % 8);
        points[i].z -= 2500;
    }
    return points;
}

std::string write_file(const ScratchDir& dir, const std::string& name,
                       const std::vector<std::byte>& bytes) {
    const std::string path = dir / name;
    lassynth::write_bytes(path, bytes);
    return path;
}

TEST(UpdateHeader, EveryTypeCodeGetsItsRecordsStatistics) {
    for (const TypeCase& t : kTypes) {
        SCOPED_TRACE("type code " + std::to_string(t.code));
        ScratchDir dir;
        const std::vector<Point> points = mixed_points(37, static_cast<std::uint32_t>(t.code));
        const lassynth::LasFile f = stale_file(t, points);
        const std::vector<std::byte> before = f.bytes();
        const std::string path = write_file(dir, "tile.las", before);

        const auto result = testing_support::run_in_child([&] { update_header(path.c_str()); });
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.out, updated_line(path));

        const std::vector<std::byte> after = lassynth::read_bytes(path);
        EXPECT_TRUE(only_statistics_changed(before, after));
        expect_statistics(after, expected_for(points, f.header), "after the update");
        // Return numbers 0, 6 and 7 are counted in the total and in no slot.
        const Expected s = stated(after);
        std::uint32_t in_slots = 0;
        for (std::uint32_t c : s.by_return) in_slots += c;
        const auto outside = std::count_if(points.begin(), points.end(), [](const Point& p) {
            return p.return_number == 0 || p.return_number > 5;
        });
        EXPECT_EQ(outside, 13);  // 37 points, i % 8 in {0, 6, 7}
        EXPECT_EQ(s.count - in_slots, 13u);
    }
}

TEST(UpdateHeader, BlockBoundariesAndTrailingPartialRecords) {
    struct Case {
        std::size_t points;
        std::size_t block_records;  // 0: the default block
        std::size_t tail_bytes;     // bytes of an incomplete record after the last one
    };
    const Case cases[] = {{1, 1, 0},  {6, 3, 0},  {7, 3, 0},  {7, 3, 1},  {9, 2, 5},  {5, 5, 0},
                          {5, 5, 19}, {50, 7, 0}, {50, 0, 0}, {50, 0, 3}, {12, 1, 1}, {3, 4, 10}};
    for (const TypeCase& t : kTypes) {
        for (const Case& c : cases) {
            const std::size_t tail = std::min(c.tail_bytes, t.record - 1);
            SCOPED_TRACE("type " + std::to_string(t.code) + ", " + std::to_string(c.points) +
                         " points, blocks of " + std::to_string(c.block_records) + ", tail " +
                         std::to_string(tail));
            ScratchDir dir;
            const std::vector<Point> points = mixed_points(c.points, 99);
            std::vector<std::byte> bytes = stale_file(t, points).bytes();
            // 0x7F bytes would make the largest X, Y and Z if the tail were read as a record.
            bytes.insert(bytes.end(), tail, std::byte{0x7F});
            const std::string path = write_file(dir, "tile.las", bytes);

            Capture out;
            const std::size_t block =
                c.block_records == 0 ? korvane::kScanBlockBytes : c.block_records * t.record;
            ASSERT_TRUE(
                korvane::update_header(path.c_str(), out.file(), korvane::system_files(), block));
            EXPECT_EQ(out.text(), updated_line(path));
            const std::vector<std::byte> after = lassynth::read_bytes(path);
            EXPECT_TRUE(only_statistics_changed(bytes, after));
            expect_statistics(after, expected_for(points, stale_file(t, points).header), "");
        }
    }
}

TEST(UpdateHeader, ScansFilesLargerThanOneBlock) {
    ScratchDir dir;
    const TypeCase& t = kTypes[6];  // 26-byte records do not divide the block size
    const std::size_t n = korvane::kScanBlockBytes / t.record * 2 + 11;
    std::vector<Point> points = mixed_points(n, 5);
    // Long runs of one return number: thousands of first returns, then of second ones.
    for (std::size_t i = 0; i < n; ++i)
        if (i % 500 != 0) points[i].return_number = i < n / 2 ? 1 : 2;
    points[n / 2].x = 4000000;  // the extremes lie in different blocks
    points[n - 1].y = -9000000;
    points[3].z = 777777;
    const lassynth::LasFile f = stale_file(t, points);
    const std::string path = write_file(dir, "big.las", f.bytes());
    Capture out;
    ASSERT_TRUE(korvane::update_header(path.c_str(), out.file(), korvane::system_files()));
    expect_statistics(lassynth::read_bytes(path), expected_for(points, f.header), "");
}

TEST(UpdateHeader, FilesWithoutAWholeRecordStateTheInitialExtremes) {
    struct Case {
        const char* what;
        std::size_t offset_shift;  // OffsetToData relative to the end of the VLRs
        std::size_t tail;          // bytes after the VLRs
    };
    const Case cases[] = {{"OffsetToData at the end", 0, 0},
                          {"OffsetToData beyond the end", 1000, 0},
                          {"a partial record only", 0, 19},
                          {"19 bytes after OffsetToData", 30, 49}};
    for (const Case& c : cases) {
        for (bool unit_scale : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (unit_scale ? ", unit scale" : ", scaled"));
            ScratchDir dir;
            const TypeCase& t = kTypes[4];
            lassynth::LasFile f = stale_file(t, {});
            if (unit_scale) {
                f.header.XScaleFactor = f.header.YScaleFactor = f.header.ZScaleFactor = 1.0;
                f.header.XOffset = f.header.YOffset = f.header.ZOffset = 0.0;
            }
            f.points.assign(c.tail, std::byte{0x11});
            f.header.OffsetToData =
                static_cast<std::uint32_t>(sizeof(LAS12Header) + f.between.size() + c.offset_shift);
            const std::vector<std::byte> before = f.bytes();
            const std::string path = write_file(dir, "empty.las", before);

            Capture out;
            ASSERT_TRUE(korvane::update_header(path.c_str(), out.file(), korvane::system_files()));
            const std::vector<std::byte> after = lassynth::read_bytes(path);
            EXPECT_TRUE(only_statistics_changed(before, after));
            expect_statistics(after, expected_for({}, f.header), "");
            if (unit_scale) {
                const Expected s = stated(after);
                EXPECT_EQ(s.max_x, -2147483646.0);
                EXPECT_EQ(s.min_x, 2147483646.0);
                EXPECT_EQ(s.max_y, -2147483646.0);
                EXPECT_EQ(s.min_y, 2147483646.0);
                EXPECT_EQ(s.max_z, -10000000.0);
                EXPECT_EQ(s.min_z, 10000000.0);
            }
        }
    }
}

// The box encloses the points even where they lie beyond the values a file without points
// states: high elevations and coordinates at the ends of the 32-bit range.
TEST(UpdateHeader, ExtentsAreTheTrueExtremes) {
    struct Case {
        const char* what;
        std::vector<Point> points;
    };
    const Case cases[] = {
        {"every Z above 10,000,000",
         {{1, 2, 20000000, 1}, {3, 4, 10000001, 2}, {5, 6, 25000000, 1}}},
        {"every Z below -10,000,000", {{1, 2, -20000000, 1}, {3, 4, -10000001, 1}}},
        {"every X and Y at the 32-bit maximum",
         {{kI32Max, kI32Max, 0, 1}, {kI32Max, kI32Max, 1, 1}}},
        {"every X and Y at the 32-bit minimum",
         {{kI32Min, kI32Min, 0, 1}, {kI32Min, -2147483647, 5, 3}}},
        {"X and Y spanning the whole range",
         {{kI32Min, kI32Max, kI32Min, 1}, {kI32Max, kI32Min, kI32Max, 2}}},
        {"one record", {{-7, 8, -9, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const lassynth::LasFile f = stale_file(kTypes[7], c.points);
        const std::vector<std::byte> before = f.bytes();
        const std::string path = write_file(dir, "high.las", before);
        Capture out;
        ASSERT_TRUE(korvane::update_header(path.c_str(), out.file(), korvane::system_files()));
        const std::vector<std::byte> after = lassynth::read_bytes(path);
        EXPECT_TRUE(only_statistics_changed(before, after));
        expect_statistics(after, expected_for(c.points, f.header), "");
    }
}

TEST(UpdateHeader, ExtentsAreAProductThenASumNotAFusedMultiplyAdd) {
    // With these values the fused and the two-step results differ.
    const std::int32_t raw = 1234567;
    const double scale = 0.001, offset = -1234.5;
    ASSERT_NE(std::fma(static_cast<double>(raw), scale, offset), real(raw, scale, offset));

    ScratchDir dir;
    const std::vector<Point> points{{raw, raw, raw, 1}};
    lassynth::LasFile f = stale_file(kTypes[4], points);
    f.header.XScaleFactor = f.header.YScaleFactor = f.header.ZScaleFactor = scale;
    f.header.XOffset = f.header.YOffset = f.header.ZOffset = offset;
    const std::string path = write_file(dir, "fma.las", f.bytes());
    Capture out;
    ASSERT_TRUE(korvane::update_header(path.c_str(), out.file(), korvane::system_files()));
    const LAS12Header h = header_of(lassynth::read_bytes(path));
    for (double extent : {h.MaxX, h.MinX, h.MaxY, h.MinY, h.MaxZ, h.MinZ})
        EXPECT_EQ(extent, real(raw, scale, offset));
}

// Files that classify but cannot be updated: refused by the exported function with a message
// naming the file and status 255, every byte as it was.
TEST(UpdateHeader, RefusesFilesItCannotUpdate) {
    struct Case {
        const char* what;
        std::vector<std::byte> bytes;
        const char* message;  // %s: the file's path
    };
    auto type_zero = [](std::uint8_t minor, std::uint8_t format) {
        lassynth::LasFile f = las_file(minor, format, mixed_points(4, 3));
        return f.bytes();
    };
    std::vector<std::byte> short_file = las_file(2, 0, {}).bytes();
    short_file.resize(200);
    std::vector<std::byte> header_only_short = short_file;
    header_only_short.resize(226);
    lassynth::LasFile inside = las_file(2, 1, mixed_points(3, 4));
    inside.header.OffsetToData = 200;

    const Case cases[] = {
        {"LAS 1.0 format 2", type_zero(0, 2),
         "\nCannot update the header of %s: point data formats 2 and 3 are not handled in LAS "
         "1.0 and 1.1 files\n"},
        {"LAS 1.1 format 3", type_zero(1, 3),
         "\nCannot update the header of %s: point data formats 2 and 3 are not handled in LAS "
         "1.0 and 1.1 files\n"},
        {"200 bytes", short_file, "\n%s is too short to hold a LAS header (200 bytes)\n"},
        {"226 bytes", header_only_short, "\n%s is too short to hold a LAS header (226 bytes)\n"},
        {"OffsetToData inside the header", inside.bytes(),
         "\nOffsetToData of %s (200) lies inside its 227-byte header\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string path = write_file(dir, "refused.las", c.bytes);
        const auto result = testing_support::run_in_child([&] { update_header(path.c_str()); });
        EXPECT_EQ(result.exit_status, 255);
        char expected[512];
        std::snprintf(expected, sizeof expected, c.message, path.c_str());
        EXPECT_EQ(result.out, expected);
        EXPECT_EQ(lassynth::read_bytes(path), c.bytes);
    }
}

TEST(UpdateHeader, ClassificationFailuresPrintOnlyTheClassificationsMessage) {
    ScratchDir dir;
    std::vector<std::byte> not_las = las_file(2, 0, mixed_points(3, 1)).bytes();
    not_las[0] = std::byte{'X'};
    std::vector<std::byte> wrong_length = las_file(2, 3, mixed_points(3, 1)).bytes();
    wrong_length[105] = std::byte{36};
    const std::string paths[] = {write_file(dir, "notlas.las", not_las),
                                 write_file(dir, "length.las", wrong_length), dir / "missing.las",
                                 write_file(dir, "tile.LAS", not_las)};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const bool existed = testing_support::file_exists(path);
        const std::vector<std::byte> before =
            existed ? lassynth::read_bytes(path) : std::vector<std::byte>{};
        Capture classification;
        ASSERT_LT(korvane::check_las(path.c_str(), classification.file(), korvane::system_files()),
                  0);
        const auto result = testing_support::run_in_child([&] { update_header(path.c_str()); });
        EXPECT_EQ(result.exit_status, 255);
        EXPECT_EQ(result.out, classification.text());
        EXPECT_FALSE(result.out.empty());
        if (existed) {
            EXPECT_EQ(lassynth::read_bytes(path), before);
        }
        EXPECT_EQ(testing_support::file_exists(path), existed);
    }
}

// Counts the calls of a whole update, then fails each read in turn: the update fails, names the
// file and the cause, and writes nothing.
TEST(UpdateHeader, ReadErrorsLeaveTheFileUnchanged) {
    ScratchDir dir;
    const std::vector<Point> points = mixed_points(5, 8);
    const std::vector<std::byte> before = stale_file(kTypes[5], points).bytes();
    const std::string path = dir / "tile.las";
    const std::size_t block = 2 * kTypes[5].record;

    FaultInjectingFs counting;
    lassynth::write_bytes(path, before);
    {
        Capture out;
        ASSERT_TRUE(korvane::update_header(path.c_str(), out.file(), counting, block));
    }
    const int preads = counting.count(Call::Pread);
    ASSERT_GE(preads, 5);  // classification, header, three blocks and the end of the file

    for (int k = 1; k <= preads; ++k) {
        SCOPED_TRACE("pread " + std::to_string(k) + " of " + std::to_string(preads));
        lassynth::write_bytes(path, before);
        FaultInjectingFs fs;
        fs.fail(Call::Pread, k, EIO);
        Capture out;
        EXPECT_FALSE(korvane::update_header(path.c_str(), out.file(), fs, block));
        EXPECT_TRUE(fs.triggered());
        EXPECT_EQ(fs.count(Call::Pwrite), 0);
        const std::string text = out.text();
        EXPECT_NE(text.find(path), std::string::npos) << text;
        if (k > 1) {
            EXPECT_NE(text.find(std::strerror(EIO)), std::string::npos) << text;
        }
        EXPECT_EQ(text.find("has been updated"), std::string::npos);
        EXPECT_EQ(lassynth::read_bytes(path), before);
    }
}

// A file system whose header writes go wrong: the first write moves half its bytes and then
// fails, and the writes after it fail too when `restore_fails`.
class PartialWriteFs : public korvane::FileSystem {
  public:
    explicit PartialWriteFs(bool restore_fails) : restore_fails_(restore_fails) {}
    ssize_t pwrite(int fd, const void* buf, std::size_t count, off_t offset) override {
        ++writes_;
        if (writes_ == 1) return FileSystem::pwrite(fd, buf, count / 2, offset);
        if (writes_ == 2 || restore_fails_) {
            errno = EIO;
            return -1;
        }
        return FileSystem::pwrite(fd, buf, count, offset);
    }

  private:
    bool restore_fails_;
    int writes_ = 0;
};

TEST(UpdateHeader, FailedHeaderWritesAreReportedAndUndone) {
    const std::vector<Point> points = mixed_points(9, 2);
    const lassynth::LasFile f = stale_file(kTypes[0], points);
    const std::vector<std::byte> before = f.bytes();
    ScratchDir dir;
    const std::string path = dir / "tile.las";
    const std::string cannot_write = "\nCannot write the header of " + path + ": ";

    // Walks a write failure and a full disk through every header write.
    for (int error : {EIO, ENOSPC}) {
        SCOPED_TRACE(std::strerror(error));
        lassynth::write_bytes(path, before);
        FaultInjectingFs fs;
        fs.fail(Call::Pwrite, 1, error);
        Capture out;
        EXPECT_FALSE(korvane::update_header(path.c_str(), out.file(), fs));
        EXPECT_EQ(out.text(), cannot_write + std::strerror(error) + "\n");
        EXPECT_EQ(lassynth::read_bytes(path), before);
    }
    {
        SCOPED_TRACE("half written, then a failure, then the original restored");
        lassynth::write_bytes(path, before);
        PartialWriteFs fs(false);
        Capture out;
        EXPECT_FALSE(korvane::update_header(path.c_str(), out.file(), fs));
        EXPECT_EQ(out.text(), cannot_write + std::strerror(EIO) + "\n");
        EXPECT_EQ(lassynth::read_bytes(path), before);
    }
    {
        SCOPED_TRACE("half written, and the restoration fails as well");
        lassynth::write_bytes(path, before);
        PartialWriteFs fs(true);
        Capture out;
        EXPECT_FALSE(korvane::update_header(path.c_str(), out.file(), fs));
        EXPECT_EQ(out.text(), cannot_write + std::strerror(EIO) + "\n\nThe header of " + path +
                                  " may be damaged: restoring it failed: " + std::strerror(EIO) +
                                  "\n");
        EXPECT_TRUE(only_statistics_changed(before, lassynth::read_bytes(path)));
    }
    {
        SCOPED_TRACE("a short write that the next call completes");
        lassynth::write_bytes(path, before);
        FaultInjectingFs fs;
        fs.shorten(Call::Pwrite, 1);
        Capture out;
        EXPECT_TRUE(korvane::update_header(path.c_str(), out.file(), fs));
        EXPECT_EQ(out.text(), updated_line(path));
        expect_statistics(lassynth::read_bytes(path), expected_for(points, f.header), "");
    }
}

// Closes of the descriptors that only read do not matter; a failed close of the updated file
// is reported and the original header put back.
TEST(UpdateHeader, FailedClosesAreReportedAndUndone) {
    const std::vector<Point> points = mixed_points(9, 2);
    const lassynth::LasFile f = stale_file(kTypes[2], points);
    const std::vector<std::byte> before = f.bytes();
    ScratchDir dir;
    const std::string path = dir / "tile.las";

    FaultInjectingFs counting;
    lassynth::write_bytes(path, before);
    {
        Capture out;
        ASSERT_TRUE(korvane::update_header(path.c_str(), out.file(), counting));
    }
    const int closes = counting.count(Call::Close);
    const int opens = counting.count(Call::Open);
    ASSERT_GE(closes, 2);

    for (int k = 1; k <= closes; ++k) {
        SCOPED_TRACE("close " + std::to_string(k) + " of " + std::to_string(closes));
        lassynth::write_bytes(path, before);
        FaultInjectingFs fs;
        fs.fail(Call::Close, k, EIO);
        Capture out;
        const bool updated = korvane::update_header(path.c_str(), out.file(), fs);
        const std::vector<std::byte> after = lassynth::read_bytes(path);
        if (k < closes) {
            EXPECT_TRUE(updated);
            EXPECT_EQ(out.text(), updated_line(path));
            expect_statistics(after, expected_for(points, f.header), "");
        } else {
            EXPECT_FALSE(updated);
            EXPECT_EQ(out.text(), "\nCannot close " + path +
                                      " after writing its header: " + std::strerror(EIO) + "\n");
            EXPECT_EQ(after, before);
        }
    }
    {
        SCOPED_TRACE("the file cannot be reopened to restore its header");
        lassynth::write_bytes(path, before);
        FaultInjectingFs fs;
        fs.fail(Call::Close, closes, EIO);
        fs.fail(Call::Open, opens + 1, EACCES);
        Capture out;
        EXPECT_FALSE(korvane::update_header(path.c_str(), out.file(), fs));
        EXPECT_EQ(out.text(),
                  "\nCannot close " + path + " after writing its header: " + std::strerror(EIO) +
                      "\n\nThe header of " + path +
                      " may be damaged: restoring it failed: " + std::strerror(EACCES) + "\n");
    }
}

TEST(UpdateHeader, OpenFailureForUpdate) {
    ScratchDir dir;
    const std::vector<std::byte> before = las_file(2, 1, mixed_points(4, 1)).bytes();
    const std::string path = write_file(dir, "tile.las", before);
    FaultInjectingFs counting;
    {
        Capture out;
        ASSERT_TRUE(korvane::update_header(path.c_str(), out.file(), counting));
    }
    lassynth::write_bytes(path, before);
    FaultInjectingFs fs;
    fs.fail(Call::Open, counting.count(Call::Open), EACCES);  // the last open is the update's
    Capture out;
    EXPECT_FALSE(korvane::update_header(path.c_str(), out.file(), fs));
    EXPECT_EQ(out.text(), "\nCannot open binary file " + path + " for header update\n\n");
    EXPECT_EQ(lassynth::read_bytes(path), before);
}

// Real files: after the update the header agrees with the points, and well-formed files keep
// the statistics their writer stored (up to the rounding of the extents).
TEST(UpdateHeader, RealSamplesAgreeWithTheirPoints) {
    const std::filesystem::path samples = SAMPLES_DIR;
    struct Sample {
        const char* name;
        bool stored_returns_match;  // false: its writer counted return number 0 as 1
    };
    const Sample samples_used[] = {{"1.0_0.las", true},       {"1.1_1.las", true},
                                   {"1.2_2.las", true},       {"simple.las", true},
                                   {"autzen-thin.las", true}, {"mvk-thin.las", true},
                                   {"epsg_4326.las", false}};
    for (const auto& [name, stored_returns_match] : samples_used) {
        const std::filesystem::path source = samples / name;
        SCOPED_TRACE(name);
        ASSERT_TRUE(std::filesystem::exists(source)) << "missing test data: " << source;
        ScratchDir dir;
        const std::string path = dir / name;
        std::filesystem::copy_file(source, path);
        const std::vector<std::byte> before = lassynth::read_bytes(path);
        const LAS12Header stored = header_of(before);

        Capture out;
        ASSERT_TRUE(korvane::update_header(path.c_str(), out.file(), korvane::system_files()));
        const std::vector<std::byte> after = lassynth::read_bytes(path);
        EXPECT_TRUE(only_statistics_changed(before, after));

        // The points, read straight from the file.
        std::vector<Point> points;
        const std::size_t length = stored.PointDataRecordLength;
        for (std::size_t at = stored.OffsetToData; at + length <= before.size(); at += length) {
            Point p;
            std::memcpy(&p.x, &before[at], 4);
            std::memcpy(&p.y, &before[at + 4], 4);
            std::memcpy(&p.z, &before[at + 8], 4);
            p.return_number = std::to_integer<std::uint8_t>(before[at + 14]) & 7u;
            points.push_back(p);
        }
        expect_statistics(after, expected_for(points, stored), "against the points");

        const Expected s = stated(after);
        const Expected was = stated(before);
        EXPECT_EQ(s.count, was.count);
        if (stored_returns_match) {
            for (int i = 0; i < 5; ++i) EXPECT_EQ(s.by_return[i], was.by_return[i]) << i + 1;
        }
        const LAS12Header h = header_of(after);
        const double box[6][3] = {
            {h.MaxX, stored.MaxX, stored.XScaleFactor}, {h.MinX, stored.MinX, stored.XScaleFactor},
            {h.MaxY, stored.MaxY, stored.YScaleFactor}, {h.MinY, stored.MinY, stored.YScaleFactor},
            {h.MaxZ, stored.MaxZ, stored.ZScaleFactor}, {h.MinZ, stored.MinZ, stored.ZScaleFactor}};
        for (const auto& [now, was, scale] : box) EXPECT_NEAR(now, was, scale);
    }
}

}  // namespace
