// The independent COPC reader that the COPC output tests trust (the copc package under node): on
// the real COPC sample it gives the info VLR and header that the file's own bytes hold, nodes
// whose counts add up to the header's and whose points lie in their cubes; files with no info
// VLR or with hierarchy entries that point past their end are refused with a reason. Skipped,
// visibly, when node or copc is missing; the sample is in the checkout, so its absence fails.
#include "copc_reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "byte_fields.hpp"
#include "scratch_dir.hpp"

namespace {

using testing_support::get;
using testing_support::put;
using Bytes = std::vector<std::byte>;
const std::string kSample = std::string(SAMPLES_DIR) + "/1.2-with-color.copc.laz";

// The info VLR comes first after the 375-byte header: 54 bytes of VLR header, then its payload.
constexpr std::size_t kInfo = 375 + 54;

Bytes read_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    const std::vector<char> chars{std::istreambuf_iterator<char>(f), {}};
    Bytes bytes(chars.size());
    std::memcpy(bytes.data(), chars.data(), chars.size());
    return bytes;
}

class CopcReader : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(kSample)) << "missing test data: " << kSample;
        if (const std::string why = testing_support::copc_reader_unavailable(); !why.empty())
            GTEST_SKIP() << "no independent COPC reader: " << why;
        file = read_bytes(kSample);
        std::string error;
        auto read = testing_support::read_copc(kSample, true, error);
        ASSERT_TRUE(read) << error;
        report = std::move(*read);
    }
    Bytes file;
    testing_support::CopcReport report;
};

TEST_F(CopcReader, GivesTheInfoAndHeaderTheFileHolds) {
    ASSERT_EQ(get<std::uint16_t>(file, 94), 375);  // header size
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(file.data()) + 377), "copc");
    ASSERT_EQ(get<std::uint16_t>(file, 393), 1);  // record id
    const double half = get<double>(file, kInfo + 24);
    const struct {
        const char* field;
        double seen, stored;
    } fields[] = {
        {"cube min x", report.cube[0], get<double>(file, kInfo) - half},
        {"cube min y", report.cube[1], get<double>(file, kInfo + 8) - half},
        {"cube min z", report.cube[2], get<double>(file, kInfo + 16) - half},
        {"cube max x", report.cube[3], get<double>(file, kInfo) + half},
        {"cube max y", report.cube[4], get<double>(file, kInfo + 8) + half},
        {"cube max z", report.cube[5], get<double>(file, kInfo + 16) + half},
        {"spacing", report.spacing, get<double>(file, kInfo + 32)},
        {"root page offset", double(report.root_page_offset),
         double(get<std::uint64_t>(file, kInfo + 40))},
        {"root page length", double(report.root_page_length),
         double(get<std::uint64_t>(file, kInfo + 48))},
        {"gps time min", report.gps_time_range[0], get<double>(file, kInfo + 56)},
        {"gps time max", report.gps_time_range[1], get<double>(file, kInfo + 64)},
        {"point count", double(report.point_count), double(get<std::uint64_t>(file, 247))},
        {"point format", double(report.point_format), double(std::to_integer<int>(file[104]) & 63)},
        {"record length", double(report.record_length), double(get<std::uint16_t>(file, 105))},
        {"scale x", report.scale[0], get<double>(file, 131)},
        {"offset z", report.offset[2], get<double>(file, 171)},
        {"max x", report.max[0], get<double>(file, 179)},
        {"min x", report.min[0], get<double>(file, 187)},
        {"max z", report.max[2], get<double>(file, 211)},
        {"min z", report.min[2], get<double>(file, 219)},
    };
    for (const auto& f : fields) EXPECT_EQ(f.seen, f.stored) << f.field;
    EXPECT_GT(half, 0);
    EXPECT_EQ(report.pages, 1);
}

TEST_F(CopcReader, GivesNodesThatHoldEveryPointInsideTheirCubes) {
    ASSERT_GT(report.nodes.size(), 1u);
    EXPECT_EQ(report.nodes.front().depth, 0);
    const double side = report.cube[3] - report.cube[0];
    const std::uint64_t points_start = get<std::uint32_t>(file, 96);
    std::uint64_t total = 0;
    for (const testing_support::CopcNode& n : report.nodes) {
        SCOPED_TRACE(std::to_string(n.depth) + "-" + std::to_string(n.x) + "-" +
                     std::to_string(n.y) + "-" + std::to_string(n.z));
        EXPECT_GE(n.offset, points_start);
        EXPECT_LE(n.offset + n.byte_size, report.root_page_offset);
        ASSERT_EQ(n.points.size(), std::size_t(n.point_count));
        total += std::uint64_t(n.point_count);
        const double step = side / std::ldexp(1.0, n.depth);
        const int index[3] = {n.x, n.y, n.z};
        for (const auto& p : n.points) {
            for (int axis = 0; axis < 3; ++axis) {
                const double low = report.cube[axis] + index[axis] * step;
                EXPECT_GE(p[axis], low - 1e-9 * side) << "axis " << axis;
                EXPECT_LE(p[axis], low + step + 1e-9 * side) << "axis " << axis;
                EXPECT_GE(p[axis], report.min[axis] - report.scale[axis] / 2);
                EXPECT_LE(p[axis], report.max[axis] + report.scale[axis] / 2);
            }
            EXPECT_GE(p[3], report.gps_time_range[0]);
            EXPECT_LE(p[3], report.gps_time_range[1]);
        }
    }
    EXPECT_EQ(total, report.point_count);
}

TEST_F(CopcReader, RefusesFilesItCannotWalk) {
    const std::uint64_t size = file.size();
    const std::uint64_t page = report.root_page_offset;
    const struct {
        const char* name;
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {"plain LAZ, no info VLR", read_bytes(std::string(SAMPLES_DIR) + "/simple.laz"),
         "info VLR is required"},
        {"cut before the root page", Bytes(file.begin(), file.begin() + std::ptrdiff_t(page)),
         "page 0-0-0-0 (31604+2080) is outside the file"},
        {"root page longer than the file",
         [&] {
             Bytes b = file;
             put<std::uint64_t>(b, kInfo + 48, size - page + 32);
             return b;
         }(),
         "page 0-0-0-0 (31604+2112) is outside the file"},
        {"a node past the end",
         [&] {
             Bytes b = file;
             put<std::uint64_t>(b, page + 16, size);  // the first entry's chunk offset
             return b;
         }(),
         "node 0-0-0-0 is outside the file"},
    };
    const testing_support::ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / "input.copc.laz";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(c.bytes.data()), std::streamsize(c.bytes.size()));
        std::string error;
        EXPECT_FALSE(testing_support::read_copc(path, false, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

}  // namespace
