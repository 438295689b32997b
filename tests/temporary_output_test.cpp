// The temporary output: renamed into place only when complete, removed on every failure and on
// an interrupt, never touching an existing file of the output's name until the rename.
#include "write/temporary_output.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "child_process.hpp"
#include "cli/signal_cleanup.hpp"
#include "fault_injecting_fs.hpp"
#include "full_io.hpp"
#include "las_synth.hpp"
#include "scratch_dir.hpp"

namespace {

using testing_support::Call;
using testing_support::FaultInjectingFs;
using testing_support::list_dir;
using testing_support::ScratchDir;

bool write_text(const quillet::TemporaryOutput& temp, const std::string& text) {
    return korvane::write_full(korvane::system_files(), temp.fd(), std::as_bytes(std::span(text)),
                               0);
}

TEST(TemporaryOutput, CommitRenamesOntoTheOutput) {
    ScratchDir dir;
    const std::string output = dir.write_text("out.las", "old");
    std::optional<quillet::TemporaryOutput> temp =
        quillet::TemporaryOutput::create(output, korvane::system_files());
    ASSERT_TRUE(temp);
    EXPECT_EQ(temp->path().rfind(output + ".Quillet-", 0), 0u) << "beside the output";
    EXPECT_EQ(temp->path().substr(temp->path().size() - 4), ".tmp");
    ASSERT_TRUE(write_text(*temp, "new"));
    EXPECT_EQ(lassynth::read_bytes(output).size(), 3u);
    ASSERT_TRUE(temp->commit());
    temp.reset();
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"out.las"});
    const std::vector<std::byte> bytes = lassynth::read_bytes(output);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), "new");
}

TEST(TemporaryOutput, FailedCloseOrRenameRemovesTheTemporaryFile) {
    for (const Call call : {Call::Close, Call::Rename}) {
        SCOPED_TRACE(testing_support::call_name(call));
        ScratchDir dir;
        const std::string output = dir.write_text("out.las", "old");
        FaultInjectingFs fs;
        fs.fail(call, 1, EIO);
        {
            std::optional<quillet::TemporaryOutput> temp =
                quillet::TemporaryOutput::create(output, fs);
            ASSERT_TRUE(temp);
            ASSERT_TRUE(write_text(*temp, "new data"));
            EXPECT_FALSE(temp->commit());
            EXPECT_EQ(errno, EIO);
        }
        EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"out.las"});
        EXPECT_EQ(lassynth::read_bytes(output).size(), 3u);
    }
}

TEST(TemporaryOutput, AbandonedOutputLeavesNothing) {
    ScratchDir dir;
    {
        auto temp = quillet::TemporaryOutput::create(dir / "out.las", korvane::system_files());
        ASSERT_TRUE(temp);
        ASSERT_TRUE(write_text(*temp, "partial"));
    }
    EXPECT_TRUE(list_dir(dir.path()).empty());
}

TEST(TemporaryOutput, CannotBeCreatedInAMissingDirectory) {
    ScratchDir dir;
    EXPECT_FALSE(quillet::TemporaryOutput::create(dir / "no/out.las", korvane::system_files()));
    EXPECT_EQ(errno, ENOENT);
}

// The command line's signal cleanup, watching the temporary output, removes it on a signal.
TEST(TemporaryOutput, InterruptRemovesTheTemporaryFileTheCommandLineWatches) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        ScratchDir dir;
        const std::string output = dir.write_text("out.las", "old");
        const auto result = testing_support::run_in_child([&] {
            auto temp = quillet::TemporaryOutput::create(output, korvane::system_files(),
                                                         quillet::watch_temporary_output);
            if (!temp || !write_text(*temp, "partial")) _exit(3);
            std::raise(sig);
            _exit(4);  // not reached: the signal ends the process
        });
        EXPECT_EQ(result.signal, sig);
        EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"out.las"}) << sig;
        EXPECT_EQ(lassynth::read_bytes(output).size(), 3u);
    }
}

}  // namespace
