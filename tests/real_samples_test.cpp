// Real LAS files from other software: pairs of the same type merge into exactly their header
// sums and point bytes with the first file's variable length records kept, and the malformed
// ones are refused with the message that fits. The samples and their manifest are part of the
// checkout (tests/data/), so their absence is a failure.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "child_process.hpp"
#include "merge_fixture.hpp"

namespace {

using testing_support::ChildResult;
using testing_support::ScratchDir;

constexpr int kRecordLengths[] = {20, 28, 26, 34};

struct Sample {
    std::string name;
    std::string version;
    int format = 0;
    int record_length = 0;
    long long slack = 0;  // bytes after the last record; negative when the file is short
    std::string path;
};

std::vector<Sample> manifest() {
    std::vector<Sample> samples;
    std::ifstream f(std::string(SAMPLES_DIR) + "/MANIFEST.tsv");
    std::string line;
    while (std::getline(f, line)) {
        std::vector<std::string> cols;
        std::stringstream row(line);
        for (std::string col; std::getline(row, col, '\t');) cols.push_back(col);
        if (cols.size() < 11 || cols[0] == "name") continue;
        samples.push_back({cols[0], cols[3], std::stoi(cols[4]), std::stoi(cols[5]),
                           std::stoll(cols[10]), std::string(SAMPLES_DIR) + "/" + cols[0]});
    }
    return samples;
}

bool handled(const Sample& s) {
    const bool v12 = s.version == "1.2";
    const bool old = s.version == "1.0" || s.version == "1.1";
    return (v12 || (old && s.format <= 1)) && s.format >= 0 && s.format <= 3 &&
           kRecordLengths[s.format] == s.record_length && s.path.ends_with(".las") && s.slack >= 0;
}

LAS12Header header_of(const std::vector<std::byte>& bytes) {
    LAS12Header h;
    std::memcpy(&h, bytes.data(), sizeof h);
    return h;
}

ChildResult merge(const ScratchDir& dir, const std::vector<std::string>& inputs) {
    std::string list;
    for (const std::string& p : inputs) list += p + "\n";
    dir.write_text("list.txt", list);
    std::filesystem::remove(dir / "out.las");
    return testing_support::run_quillet({dir / "list.txt", dir / "out.las"});
}

class RealSamples : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(std::string(SAMPLES_DIR) + "/MANIFEST.tsv"))
            << "missing test data: no sample manifest in " << SAMPLES_DIR;
        samples_ = manifest();
        ASSERT_FALSE(samples_.empty());
    }
    std::vector<Sample> samples_;
};

TEST_F(RealSamples, PairsOfTheSameTypeMergeExactly) {
    ScratchDir dir;
    std::map<std::string, std::vector<const Sample*>> by_type;
    for (const Sample& s : samples_)
        if (handled(s)) by_type[s.version + "/" + std::to_string(s.format)].push_back(&s);
    int merged = 0, refused = 0;
    for (const auto& [type, group] : by_type) {
        for (std::size_t i = 0; i < group.size(); ++i) {
            const Sample& a = *group[i];
            const Sample& b = *group[(i + 1) % group.size()];  // a with itself when alone
            SCOPED_TRACE(a.name + " + " + b.name);
            const std::vector<std::byte> ab = lassynth::read_bytes(a.path);
            const std::vector<std::byte> bb = lassynth::read_bytes(b.path);
            const LAS12Header ha = header_of(ab), hb = header_of(bb);
            const ChildResult r = merge(dir, {a.path, b.path});
            const bool same_frame =
                ha.XScaleFactor == hb.XScaleFactor && ha.YScaleFactor == hb.YScaleFactor &&
                ha.ZScaleFactor == hb.ZScaleFactor && ha.XOffset == hb.XOffset &&
                ha.YOffset == hb.YOffset && ha.ZOffset == hb.ZOffset;
            if (!same_frame) {
                EXPECT_EQ(r.exit_status, 255);
                EXPECT_NE(r.out.find("in " + b.path + " differs from that in previous .las files"),
                          std::string::npos)
                    << r.out;
                EXPECT_FALSE(testing_support::file_exists(dir / "out.las"));
                ++refused;
                continue;
            }
            ASSERT_EQ(r.exit_status, 0) << r.out;
            const std::vector<std::byte> out = lassynth::read_bytes(dir / "out.las");
            const LAS12Header h = header_of(out);
            // Packed fields are compared as values: a reference to them would be misaligned.
            EXPECT_EQ(std::uint32_t{h.NumberOfPointReturns},
                      ha.NumberOfPointReturns + hb.NumberOfPointReturns);
            for (int k = 0; k < 5; ++k)
                EXPECT_EQ(std::uint32_t{h.NumberOfPointsByReturn[k]},
                          ha.NumberOfPointsByReturn[k] + hb.NumberOfPointsByReturn[k]);
            EXPECT_EQ(+h.MinX, std::min(+ha.MinX, +hb.MinX));
            EXPECT_EQ(+h.MaxX, std::max(+ha.MaxX, +hb.MaxX));
            EXPECT_EQ(+h.MinY, std::min(+ha.MinY, +hb.MinY));
            EXPECT_EQ(+h.MaxY, std::max(+ha.MaxY, +hb.MaxY));
            EXPECT_EQ(+h.MinZ, std::min(+ha.MinZ, +hb.MinZ));
            EXPECT_EQ(+h.MaxZ, std::max(+ha.MaxZ, +hb.MaxZ));
            // The first file's header fields other than the counts and box, and its VLRs.
            EXPECT_EQ(0, std::memcmp(out.data(), ab.data(), 107));
            EXPECT_EQ(0, std::memcmp(out.data() + 131, ab.data() + 131, 48));
            ASSERT_GE(out.size(), ha.OffsetToData);
            EXPECT_TRUE(
                std::equal(ab.begin() + 227, ab.begin() + ha.OffsetToData, out.begin() + 227));
            // Then both files' point records, in list order.
            const std::size_t la = std::size_t{ha.NumberOfPointReturns} * ha.PointDataRecordLength;
            const std::size_t lb = std::size_t{hb.NumberOfPointReturns} * hb.PointDataRecordLength;
            ASSERT_EQ(out.size(), ha.OffsetToData + la + lb);
            EXPECT_TRUE(std::equal(ab.begin() + ha.OffsetToData, ab.begin() + ha.OffsetToData + la,
                                   out.begin() + ha.OffsetToData));
            EXPECT_TRUE(std::equal(bb.begin() + hb.OffsetToData, bb.begin() + hb.OffsetToData + lb,
                                   out.begin() + ha.OffsetToData + la));
            ++merged;
        }
    }
    EXPECT_GT(merged, 10);
    RecordProperty("merged_pairs", merged);
    RecordProperty("refused_pairs", refused);
}

TEST_F(RealSamples, MalformedFilesAreRefusedWithTheFittingMessage) {
    ScratchDir dir;
    int checked = 0;
    for (const Sample& s : samples_) {
        if (handled(s)) continue;
        SCOPED_TRACE(s.name);
        std::string expected;
        if (!s.path.ends_with(".las")) {
            expected = "\nFile extension of " + s.path + " is not .las\n";
        } else if (s.version != "1.0" && s.version != "1.1" && s.version != "1.2") {
            expected = "\nCannot handle las files of version " + s.version + "\n";
        } else if (s.format > 3) {
            expected = "\nPointDataFormatID in " + s.path + " is ";
        } else if (s.version != "1.2" && s.format >= 2) {
            expected = s.path + " (listed in ";
        } else if (s.record_length != kRecordLengths[s.format]) {
            expected = "\nData format of " + s.path + " (" + std::to_string(s.format) +
                       ") is incompatible with Length of Data Record (" +
                       std::to_string(s.record_length) + ")\n";
        } else {
            expected = "\n" + s.path + " is shorter than its header states";
        }
        // Listed twice, so that a file of a handled type reaches the header checks.
        const ChildResult r = merge(dir, {s.path, s.path});
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
        EXPECT_FALSE(testing_support::file_exists(dir / "out.las"));
        ++checked;
    }
    EXPECT_GE(checked, 5);
}

}  // namespace
