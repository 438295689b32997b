// A cloud optimised merge of far more points than its memory budget: it completes within the
// budget and 32 MiB, every point counted by the `copc` npm reader, and an interrupt while the
// octree is built leaves nothing behind. Its own program, labelled slow: millions of points take
// minutes under the sanitizers and check nothing there that the small merges do not.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "copc_merge_fixture.hpp"

namespace {

class CopcMemory : public testing_support::CopcMergeFixture {
  protected:
    void SetUp() override {
        CopcMergeFixture::SetUp();
        if (IsSkipped()) return;
        // 30 copies of a sample's chunks: 111 MB of staged points against a budget of 64 MiB.
        ASSERT_EQ(testing_support::run_child({LAZGEN_EXE,
                                              std::string(SAMPLES_DIR) + "/lone-star-split-1.laz",
                                              dir_ / "a.laz", "30"})
                      .exit_status,
                  0);
        std::filesystem::create_directory(dir_ / "stage");
    }
    const std::vector<std::string> args_ = {"-o",    "m.copc.laz", "a.laz", "--temp-dir",
                                            "stage", "--memory",   "64M"};
};

TEST_F(CopcMemory, FarMorePointsThanTheBudget) {
    const testing_support::ChildResult r = testing_support::run_quillet_in(dir_, args_);
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_LE(r.max_rss_kib, (64 + 32) * 1024) << "peak resident memory over the budget";
    std::string error;
    const auto copc = testing_support::read_copc(dir_ / "m.copc.laz", false, error);
    ASSERT_TRUE(copc) << error;
    std::int64_t counted = 0;
    for (const testing_support::CopcNode& n : copc->nodes) counted += n.point_count;
    EXPECT_GT(copc->point_count, 3'000'000u);
    EXPECT_EQ(static_cast<std::uint64_t>(counted), copc->point_count);
    EXPECT_TRUE(std::filesystem::is_empty(dir_ / "stage"));
}

// SIGINT once the staged file is gone (the octree's pass has begun): the process ends by the
// signal, and neither its temporary files nor the output's temporary file is left.
TEST_F(CopcMemory, InterruptedWhileTheOctreeIsBuilt) {
    const pid_t pid = testing_support::start_quillet(args_, dir_.path());
    bool staged = false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < until) {
        const bool now = !std::filesystem::is_empty(dir_ / "stage");
        if (staged && !now) break;
        staged = staged || now;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(staged) << "the points were never staged";
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "it ended before the interrupt, status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_TRUE(std::filesystem::is_empty(dir_ / "stage"));
    EXPECT_EQ(testing_support::list_dir(dir_.path()), (std::vector<std::string>{"a.laz", "stage"}));
}

}  // namespace
