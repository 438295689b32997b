// A merge whose output passes 4 GiB: two inputs of 2.2 GB of 20-byte records, sparse except for
// marker records at the start, the middle, the end and across the 4 GiB offset of the output.
// The output must have the right size and header, and every marker where its input's records
// land. Run on demand: the output is really written (about 4.4 GB), then removed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "child_process.hpp"
#include "las_header.hpp"
#include "merge_fixture.hpp"

namespace {

using testing_support::ScratchDir;

constexpr std::uint32_t kPoints = 110'000'000;  // per input
constexpr std::uint64_t kRecord = 20;
constexpr std::uint64_t kOutputSize = 227 + 2 * kPoints * kRecord;
static_assert(kOutputSize > (std::uint64_t{1} << 32));

// The record of the output that straddles offset 2^32, as a record number of the second input.
constexpr std::uint32_t kAcross4GiB =
    static_cast<std::uint32_t>(((std::uint64_t{1} << 32) - 227) / kRecord - kPoints);

struct Marker {
    std::uint32_t input;   // 0 or 1
    std::uint32_t record;  // within that input
};

std::array<char, kRecord> marker_bytes(const Marker& m) {
    std::array<char, kRecord> bytes;
    bytes.fill(static_cast<char>('P' + m.input));
    std::memcpy(bytes.data() + 4, &m.record, sizeof m.record);
    return bytes;
}

TEST(LargeOutput, MergeBeyondFourGiB) {
    ScratchDir dir;
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(dir.path().c_str(), &fs), 0);
    const std::uint64_t free_bytes = std::uint64_t{fs.f_bavail} * fs.f_frsize;
    if (free_bytes < kOutputSize + (std::uint64_t{1} << 30))
        GTEST_SKIP() << dir.path() << " has " << free_bytes / 1000000
                     << " MB free; this test writes " << kOutputSize / 1000000 << " MB";

    const std::vector<Marker> markers = {
        {0, 0}, {0, 1},           {0, kPoints / 2}, {0, kPoints - 1},
        {1, 0}, {1, kPoints / 2}, {1, kAcross4GiB}, {1, kPoints - 1},
    };
    for (std::uint32_t input = 0; input < 2; ++input) {
        const std::string path = dir / ("in" + std::to_string(input) + ".las");
        testing_support::write_sparse_las(path, 2, 0, kPoints);
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        for (const Marker& m : markers) {
            if (m.input != input) continue;
            const auto bytes = marker_bytes(m);
            ASSERT_EQ(::pwrite(fd, bytes.data(), kRecord, off_t(227 + m.record * kRecord)),
                      ssize_t{kRecord});
        }
        ::close(fd);
    }
    dir.write_text("list.txt", "in0.las\nin1.las\n");

    testing_support::ChildOptions options;
    options.working_dir = dir.path();
    const auto start = std::chrono::steady_clock::now();
    const testing_support::ChildResult r =
        testing_support::run_quillet({"list.txt", "out.las"}, options);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[large output] %llu bytes merged in %.1f s\n",
                static_cast<unsigned long long>(kOutputSize), seconds);
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("220000000 points in all input .las files\n"
                         "\nWARNING: The output .las file will be 4400.000MB, which excceds the "
                         "32-bit limit (2,147MB)\n\n"),
              std::string::npos)
        << r.out;

    const std::string output = dir / "out.las";
    const int fd = ::open(output.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), kOutputSize);

    // The header: the first input's, with the summed counts.
    const std::optional<LAS12Header> h = korvane::read_header(korvane::system_files(), fd);
    ASSERT_TRUE(h);
    // Packed fields are copied out: the assertions take references.
    const std::uint32_t points = h->NumberOfPointReturns;
    const std::uint32_t first_returns = h->NumberOfPointsByReturn[0];
    const std::uint32_t offset = h->OffsetToData;
    const std::uint16_t length = h->PointDataRecordLength;
    EXPECT_EQ(points, 2 * kPoints);
    EXPECT_EQ(first_returns, 2 * kPoints);
    EXPECT_EQ(offset, 227u);
    EXPECT_EQ(length, kRecord);

    // Every marker at its place, and a hole record between two markers reads as zeros.
    for (const Marker& m : markers) {
        const std::uint64_t at = 227 + (std::uint64_t{m.input} * kPoints + m.record) * kRecord;
        std::array<char, kRecord> got{};
        ASSERT_EQ(::pread(fd, got.data(), kRecord, static_cast<off_t>(at)), ssize_t{kRecord});
        EXPECT_EQ(got, marker_bytes(m))
            << "input " << m.input << ", record " << m.record << ", output offset " << at;
    }
    std::array<char, kRecord> hole{};
    ASSERT_EQ(::pread(fd, hole.data(), kRecord, static_cast<off_t>(227 + 2 * kRecord)),
              ssize_t{kRecord});
    EXPECT_EQ(hole, (std::array<char, kRecord>{}));
    ::close(fd);
    ::unlink(output.c_str());
}

}  // namespace
