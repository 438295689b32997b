// The octree's temporary files in the staging directory: a directory that cannot take them
// (full, or failing) fails the merge with one message and leaves nothing behind, and a file
// system without unnamed files gets named ones, removed at once, with the same output.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "captured_output.hpp"
#include "cli/merge_driver.hpp"
#include "fault_injecting_fs.hpp"
#include "las_synth.hpp"
#include "scratch_dir.hpp"

namespace {

using testing_support::Call;
using testing_support::FaultInjectingFs;

TEST(CopcTemporaryFiles, AStagingDirectoryThatFails) {
    testing_support::ScratchDir dir;
    // Enough points that, under the least budget, the root's subtree is split through temporary
    // files.
    for (const std::uint32_t seed : {3u, 4u})
        lassynth::write_bytes(
            dir / (seed == 3 ? "a.las" : "b.las"),
            lassynth::make_las(2, 1, lassynth::random_points(80000, seed, 0, 0, 2000), false)
                .bytes());
    const std::string list = dir.write_text("list.txt", dir / "a.las" + "\n" + dir / "b.las");
    std::filesystem::create_directory(dir / "stage");
    const std::string output = dir / "m.copc.laz";
    const auto merge = [&](FaultInjectingFs& fs) {
        testing_support::CapturedOutput out;
        const std::string stage = dir / "stage";
        const char* args[] = {"Quillet",    "--extended",  "--memory",   "64M",
                              "--temp-dir", stage.c_str(), list.c_str(), output.c_str()};
        const int status = quillet::run(args, out.file(), fs);
        return std::pair(status, out.text());
    };
    FaultInjectingFs clean;
    const auto [clean_status, clean_printed] = merge(clean);
    ASSERT_EQ(clean_status, 0) << clean_printed;
    const std::vector<std::byte> expected = lassynth::read_bytes(output);
    std::filesystem::remove(output);

    struct Row {
        const char* what;
        Call call;
        int error;
        const char* message;  // the last line; "" for a merge that succeeds
    };
    const std::string cannot = "\nCannot keep the octree's temporary points in " + dir / "stage";
    const Row rows[] = {
        {"no room for a file", Call::Open, ENOSPC, "No space left on device"},
        {"no room for its points", Call::Pwrite, ENOSPC, "No space left on device"},
        {"a read that fails", Call::Pread, EIO, "Input/output error"},
        {"no unnamed files on this file system: named ones, removed at once", Call::Open,
         EOPNOTSUPP, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FaultInjectingFs fs;
        fs.fail_unnamed(row.call, row.error);
        const auto [status, printed] = merge(fs);
        EXPECT_TRUE(fs.triggered());
        if (*row.message == '\0') {
            EXPECT_EQ(status, 0) << printed;
            EXPECT_EQ(lassynth::read_bytes(output), expected);
            std::filesystem::remove(output);
        } else {
            EXPECT_EQ(status, -1);
            EXPECT_TRUE(printed.ends_with(cannot + ": " + row.message + "\n")) << printed;
        }
        EXPECT_TRUE(std::filesystem::is_empty(dir / "stage")) << "a temporary file is left";
        EXPECT_EQ(testing_support::list_dir(dir.path()),
                  (std::vector<std::string>{"a.las", "b.las", "list.txt", "stage"}));
    }
}

}  // namespace
