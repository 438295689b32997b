// Faults injected into every file-system call of an extended merge, one at a time, for a LAS 1.4
// merge with records the checks compare and EVLRs, and for a LAZ merge: whatever fails, the
// merge either completes exactly or reports one message, returns -1, leaves no temporary file
// and leaves an existing output as it was.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "captured_output.hpp"
#include "cli/merge_driver.hpp"
#include "fault_injecting_fs.hpp"
#include "merge_fixture.hpp"

namespace {

using testing_support::Call;
using testing_support::CapturedOutput;
using testing_support::FaultInjectingFs;
using testing_support::ScratchDir;

class ExtendedFaults : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        const std::string kind = GetParam();
        std::vector<std::vector<std::byte>> inputs;
        if (kind == "laz") {
            const std::string samples = std::string(SAMPLES_DIR) + "/";
            ASSERT_TRUE(std::filesystem::exists(samples + "lone-star-split-1.laz"))
                << "missing test data: no LAZ samples in " << SAMPLES_DIR;
            for (const char* n : {"lone-star-split-1.laz", "lone-star-split-4.laz"})
                inputs.push_back(lassynth::read_bytes(samples + n));
            output_ = dir_ / "out.laz";
        } else {
            // Records that the checks compare byte for byte (a coordinate system, extra bytes)
            // and EVLRs that the merge copies.
            for (std::uint32_t seed : {1u, 2u}) {
                lassynth::LasFile f =
                    lassynth::make_las_extended(4, 7, lassynth::random_points(300 * seed, seed), 2);
                const std::vector<std::byte> extra_bytes =
                    lassynth::vlr("LASF_Spec", 4, std::vector<std::byte>(192, std::byte{1}));
                f.between.insert(f.between.end(), extra_bytes.begin(), extra_bytes.end());
                ++f.header.NumberOfVariableLengthRecords;
                f.after = lassynth::evlr("LASF_Projection", 2112,
                                         std::vector<std::byte>(40, std::byte(seed)));
                f.set_extension_u32(243, 1);
                f.lay_out();
                inputs.push_back(f.bytes());
            }
            output_ = dir_ / "out.las";
        }
        std::string list;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            names_.push_back(dir_ / ("in" + std::to_string(i) + "." + kind.substr(0, 3)));
            lassynth::write_bytes(names_.back(), inputs[i]);
            list += names_.back() + "\n";
        }
        list_ = dir_.write_text("list.txt", list);
        entries_ = testing_support::list_dir(dir_.path());
        FaultInjectingFs clean;
        ASSERT_EQ(merge(clean).first, 0);
        expected_ = lassynth::read_bytes(output_);
        for (Call call : kCalls) counts_[call] = clean.count(call);
        entries_ = testing_support::list_dir(dir_.path());
    }

    std::pair<int, std::string> merge(FaultInjectingFs& fs) {
        CapturedOutput out;
        const char* args[] = {"Quillet", "--extended", list_.c_str(), output_.c_str()};
        const int status = quillet::run(args, out.file(), fs);
        return {status, out.text()};
    }

    static constexpr Call kCalls[] = {Call::Open,   Call::Close, Call::Fstat,  Call::Stat,
                                      Call::Read,   Call::Pread, Call::Pwrite, Call::CopyFileRange,
                                      Call::Fchmod, Call::Rename};
    ScratchDir dir_;
    std::vector<std::string> names_;
    std::string list_, output_;
    std::vector<std::string> entries_;
    std::vector<std::byte> expected_;
    std::map<Call, int> counts_;
};

TEST_P(ExtendedFaults, EveryCallOfTheMerge) {
    int exercised = 0;
    for (Call call : kCalls) {
        for (int nth = 1; nth <= counts_[call]; ++nth) {
            for (const bool shorten : {false, true}) {
                const bool moves_bytes =
                    call == Call::Read || call == Call::Pread || call == Call::Pwrite;
                if (shorten && !moves_bytes) continue;
                SCOPED_TRACE(std::string(testing_support::call_name(call)) + " #" +
                             std::to_string(nth) + (shorten ? " short" : " failing"));
                FaultInjectingFs fs;
                if (shorten)
                    fs.shorten(call, nth);
                else
                    fs.fail(call, nth, EIO);
                dir_.write_text(std::filesystem::path(output_).filename(),
                                "the user's earlier merge");
                const auto [status, printed] = merge(fs);
                exercised += fs.triggered();
                EXPECT_EQ(testing_support::list_dir(dir_.path()), entries_)
                    << "no temporary file may be left behind";
                if (status == 0) {
                    EXPECT_EQ(lassynth::read_bytes(output_), expected_) << printed;
                    continue;
                }
                EXPECT_EQ(status, -1);
                EXPECT_EQ(lassynth::read_bytes(output_).size(), 24u) << "the old output survives";
                // One message after the last line before it, naming a file of the merge.
                const std::size_t last = printed.find_last_of('\n', printed.size() - 2);
                const std::string message = printed.substr(last == std::string::npos ? 0 : last);
                bool names_a_file = message.find(output_) != std::string::npos ||
                                    message.find(list_) != std::string::npos;
                for (const std::string& n : names_)
                    names_a_file |= message.find(n) != std::string::npos;
                EXPECT_TRUE(names_a_file) << printed;
            }
        }
    }
    std::printf("[fault points] %s: %d exercised\n", GetParam(), exercised);
    EXPECT_GT(exercised, 20);
}

INSTANTIATE_TEST_SUITE_P(Merges, ExtendedFaults, ::testing::Values("las14", "laz"));

}  // namespace
