// The copy engine: exact byte counts from given offsets, the buffered fallback and its buffer.
#include "write/byte_copy.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <numeric>

#include "fault_injecting_fs.hpp"
#include "las_synth.hpp"
#include "scratch_dir.hpp"
#include "unique_fd.hpp"

namespace {

using quillet::CopyBuffer;
using quillet::CopyOutcome;
using testing_support::Call;
using testing_support::FaultInjectingFs;
using testing_support::ScratchDir;
using Kind = CopyOutcome::Kind;

// Allocation that fails for every size above a limit.
std::size_t allocation_limit = 0;
std::vector<std::size_t> asked;
void* limited_allocate(std::size_t size) {
    asked.push_back(size);
    return size <= allocation_limit ? std::malloc(size) : nullptr;
}

class ByteCopy : public ::testing::Test {
  protected:
    void SetUp() override {
        source_.resize(100000);
        std::iota(reinterpret_cast<unsigned char*>(source_.data()),
                  reinterpret_cast<unsigned char*>(source_.data()) + source_.size(),
                  static_cast<unsigned char>(1));
        lassynth::write_bytes(dir_ / "in", source_);
        in_ = korvane::UniqueFd(fs_, ::open((dir_ / "in").c_str(), O_RDONLY));
        out_ = korvane::UniqueFd(fs_, ::open((dir_ / "out").c_str(), O_RDWR | O_CREAT, 0644));
    }

    CopyOutcome copy(off_t from, off_t to, std::uint64_t length, std::uint16_t record,
                     CopyBuffer& buffer) {
        return quillet::copy_bytes(fs_, in_.get(), from, out_.get(), to, length, record, buffer);
    }

    std::vector<std::byte> written() { return lassynth::read_bytes(dir_ / "out"); }

    ScratchDir dir_;
    FaultInjectingFs fs_;
    std::vector<std::byte> source_;
    korvane::UniqueFd in_, out_;
};

TEST_F(ByteCopy, CopiesExactlyTheRangeAskedFor) {
    for (const bool kernel : {true, false}) {
        SCOPED_TRACE(kernel ? "kernel copy" : "buffered copy");
        if (!kernel) fs_.fail_always(Call::CopyFileRange, EXDEV);
        ASSERT_EQ(::ftruncate(out_.get(), 0), 0);
        CopyBuffer buffer(64);  // a small buffer: many blocks
        ASSERT_EQ(copy(1000, 10, 5000, 20, buffer).kind, Kind::Done);
        const std::vector<std::byte> out = written();
        ASSERT_EQ(out.size(), 5010u);
        EXPECT_TRUE(std::equal(out.begin() + 10, out.end(), source_.begin() + 1000));
    }
}

TEST_F(ByteCopy, InputShorterThanStated) {
    for (const bool kernel : {true, false}) {
        if (!kernel) fs_.fail_always(Call::CopyFileRange, ENOSYS);
        CopyBuffer buffer;
        EXPECT_EQ(copy(99000, 0, 2000, 20, buffer).kind, Kind::ShortInput) << kernel;
    }
}

TEST_F(ByteCopy, BufferHalvesUntilAnAllocationSucceeds) {
    fs_.fail_always(Call::CopyFileRange, EXDEV);
    allocation_limit = 1000;
    asked.clear();
    CopyBuffer buffer(4096, limited_allocate);
    ASSERT_EQ(copy(0, 0, 10000, 28, buffer).kind, Kind::Done);
    EXPECT_EQ(asked, (std::vector<std::size_t>{4096, 2048, 1024, 512}));
    EXPECT_EQ(buffer.size(), 512u);
    // Each block is a whole number of 28-byte records: 18 records, 504 bytes.
    EXPECT_EQ(fs_.count(Call::Pwrite), (10000 + 503) / 504);
    EXPECT_TRUE(std::equal(source_.begin(), source_.begin() + 10000, written().begin()));
}

TEST_F(ByteCopy, NoBufferOfOneRecord) {
    fs_.fail_always(Call::CopyFileRange, EOPNOTSUPP);
    allocation_limit = 20;
    asked.clear();
    CopyBuffer buffer(256, limited_allocate);
    EXPECT_EQ(copy(0, 0, 1000, 34, buffer).kind, Kind::NoBuffer);
    EXPECT_EQ(asked, (std::vector<std::size_t>{256, 128, 64}));
    EXPECT_EQ(fs_.count(Call::Pwrite), 0);
}

TEST_F(ByteCopy, FailuresCarryTheirCause) {
    struct Case {
        bool buffered;  // the kernel copy is unavailable, so the buffer is used
        Call failing;
        int error;
        Kind kind;
    };
    const Case cases[] = {
        {false, Call::CopyFileRange, ENOSPC, Kind::CopyFailed},
        {true, Call::Pread, EIO, Kind::ReadFailed},
        {true, Call::Pwrite, EDQUOT, Kind::WriteFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing_support::call_name(c.failing));
        FaultInjectingFs fs;
        if (c.buffered) fs.fail_always(Call::CopyFileRange, EXDEV);
        fs.fail(c.failing, 1, c.error);
        CopyBuffer buffer;
        const CopyOutcome o = quillet::copy_bytes(fs, in_.get(), 0, out_.get(), 0, 100, 20, buffer);
        EXPECT_EQ(o.kind, c.kind);
        EXPECT_EQ(o.error, c.error);
    }
}

TEST_F(ByteCopy, InterruptedCallsAreRepeated) {
    fs_.fail(Call::CopyFileRange, 1, EINTR);
    CopyBuffer buffer;
    ASSERT_EQ(copy(0, 0, 3000, 20, buffer).kind, Kind::Done);
    EXPECT_EQ(fs_.count(Call::Pwrite), 0) << "EINTR is no reason to fall back";
    EXPECT_TRUE(std::equal(source_.begin(), source_.begin() + 3000, written().begin()));
}

}  // namespace
