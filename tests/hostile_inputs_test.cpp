// Odd and hostile things in the list or on the disk: what is not a regular file, lists that are
// not text, inputs that change while they are merged, unusual names, very long lists and outputs
// that cannot be created. Each is refused with one clear message and exit status 255, or merged
// correctly where it is a proper request; none may hang.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>

#include "captured_output.hpp"
#include "child_process.hpp"
#include "fault_injecting_fs.hpp"
#include "las_header.hpp"
#include "merge_driver.hpp"
#include "merge_fixture.hpp"

namespace {

using testing_support::CapturedOutput;
using testing_support::ChildResult;
using testing_support::expect_refused;
using testing_support::FaultInjectingFs;
using testing_support::kBanner;
using testing_support::list_dir;
using testing_support::make_tile;
using testing_support::run_quillet_in;
using testing_support::ScratchDir;
using testing_support::Tile;
using testing_support::write_tiles;

std::vector<Tile> two_tiles() {
    return {make_tile("a.las", 2, 1, 40, 1), make_tile("b.las", 2, 1, 25, 2)};
}

TEST(HostileInputs, ListedNamesThatAreNotRegularFiles) {
    // Named with the .las extension so that only their kind can refuse them. Opening a FIFO
    // without a writer, or reading /dev/zero, would hang a merge that did not look first.
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
    };
    const Case cases[] = {
        {"dir.las", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0755), 0); }},
        {"fifo.las", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }},
        {"null.las", [](const std::string& p) { ASSERT_EQ(::symlink("/dev/null", p.c_str()), 0); }},
        {"zero.las", [](const std::string& p) { ASSERT_EQ(::symlink("/dev/zero", p.c_str()), 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool first : {true, false}) {
            ScratchDir dir;
            write_tiles(dir, two_tiles());
            c.make(dir / c.name);
            const std::string list = first ? std::string(c.name) + "\na.las\n"
                                           : std::string("a.las\nb.las\n") + c.name + "\n";
            dir.write_text("list.txt", list);
            expect_refused(dir, {"list.txt", "out.las"},
                           "\n" + std::string(c.name) + " is not a regular file\n" + c.name +
                               " (listed in list.txt) is not a valid LAS file\n");
        }
    }
    // Device names as they are: their names fail the extension check first.
    for (const std::string device : {"/dev/null", "/dev/zero"}) {
        ScratchDir dir;
        write_tiles(dir, two_tiles());
        dir.write_text("list.txt", "a.las\n" + device + "\n");
        expect_refused(dir, {"list.txt", "out.las"},
                       "\nExtension of file " + device + " should be preceeded by a dot (.)\n" +
                           device + " (listed in list.txt) is not a valid LAS file\n");
    }
}

TEST(HostileInputs, ListFilesThatAreNotTextLists) {
    ScratchDir dir;
    write_tiles(dir, two_tiles());
    ASSERT_EQ(::mkdir((dir / "lists").c_str(), 0755), 0);
    expect_refused(dir, {"lists", "out.las"}, "\nCannot open input ASCII file lists for reading\n");
    // Devices as lists: one reads zero bytes for ever, the other is empty.
    expect_refused(dir, {"/dev/zero", "out.las"},
                   "\n/dev/zero holds zero bytes: it is not a text list of names\n");
    expect_refused(dir, {"/dev/null", "out.las"},
                   "\nFile /dev/null contains no valid .las files\n");

    // Binary garbage with zero bytes somewhere in it, early or only at the very end.
    std::mt19937 random(7);
    std::string garbage(200000, '\0');
    for (char& c : garbage) c = static_cast<char>(random() % 256);
    for (const std::size_t zero_at : {std::size_t{3}, garbage.size() - 1}) {
        std::string text = garbage;
        for (char& c : text)
            if (c == '\0') c = 'x';
        text[zero_at] = '\0';
        dir.write_text("list.bin", text);
        expect_refused(dir, {"list.bin", "out.las"},
                       "\nlist.bin holds zero bytes: it is not a text list of names\n");
    }

    // Garbage without zero bytes reads as names; the first is looked for and not found.
    std::string text = garbage;
    for (char& c : text)
        if (c == '\0') c = '\x01';
    dir.write_text("list.bin", text);
    std::size_t begin = 0;
    while (std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    std::size_t end = begin;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
    const std::string first = text.substr(begin, end - begin);
    expect_refused(dir, {"list.bin", "out.las"},
                   "Unable to open file " + first + " in file_access()\n\nFile " + first +
                       " does NOT exist\n" + first +
                       " (listed in list.bin) is not a valid LAS file\n");
}

// ---- Inputs that change between the checks and the copy ------------------------------------

// Runs `change` once, when the merge makes the file-system call that `when` picks (a kernel copy
// or a read, with the descriptor it reads from), then forwards the call.
class ChangingFs : public FaultInjectingFs {
  public:
    using When = std::function<bool(testing_support::Call call, int fd_in, off_t offset)>;
    ChangingFs(When when, std::function<void()> change)
        : when_(std::move(when)), change_(std::move(change)) {}

    ssize_t copy_file_range(int fd_in, off_t* off_in, int fd_out, off_t* off_out,
                            std::size_t count) override {
        maybe_change(testing_support::Call::CopyFileRange, fd_in, *off_in);
        return FaultInjectingFs::copy_file_range(fd_in, off_in, fd_out, off_out, count);
    }
    ssize_t pread(int fd, void* buf, std::size_t count, off_t offset) override {
        maybe_change(testing_support::Call::Pread, fd, offset);
        return FaultInjectingFs::pread(fd, buf, count, offset);
    }
    bool changed() const { return changed_; }

  private:
    void maybe_change(testing_support::Call call, int fd, off_t offset) {
        if (changed_ || !when_(call, fd, offset)) return;
        changed_ = true;
        change_();
    }
    When when_;
    std::function<void()> change_;
    bool changed_ = false;
};

// The first kernel copy of the merge: that of the first file's bytes before its point data.
bool first_copy(testing_support::Call call, int, off_t) {
    return call == testing_support::Call::CopyFileRange;
}

// Whether an open descriptor is the named file.
bool is_file(int fd, const std::string& path) {
    struct stat a {
    }, b{};
    return ::fstat(fd, &a) == 0 && ::stat(path.c_str(), &b) == 0 && a.st_ino == b.st_ino &&
           a.st_dev == b.st_dev;
}

class ChangingInputs : public ::testing::Test {
  protected:
    void SetUp() override {
        tiles_ = {make_tile("a.las", 2, 1, 300, 1), make_tile("b.las", 2, 1, 200, 2),
                  make_tile("c.las", 2, 1, 100, 3)};
        write_tiles(dir_, tiles_);
        std::string names;
        for (const Tile& t : tiles_) names += dir_ / t.name + "\n";
        list_ = dir_.write_text("list.txt", names);
        victim_ = dir_ / "b.las";
    }

    // Merges in this process with `fs`; the user's earlier output is in place.
    std::pair<int, std::string> merge(korvane::FileSystem& fs) {
        dir_.write_text("out.las", "the user's earlier merge");
        CapturedOutput out;
        const std::string output = dir_ / "out.las";
        const char* args[] = {"Quillet", list_.c_str(), output.c_str()};
        const int status = quillet::run(args, out.file(), fs);
        return {status, out.text()};
    }

    // The run failed with `message` as its one message after the last progress line, and left
    // the earlier output and no temporary file.
    void expect_failed(const std::pair<int, std::string>& result, const std::string& message) {
        EXPECT_EQ(result.first, -1);
        const std::string& printed = result.second;
        const std::size_t progress = printed.rfind('\r');
        ASSERT_NE(progress, std::string::npos) << printed;
        EXPECT_EQ(printed.substr(printed.find('\n', progress)), message) << printed;
        EXPECT_EQ(list_dir(dir_.path()),
                  (std::vector<std::string>{"a.las", "b.las", "c.las", "list.txt", "out.las"}));
        EXPECT_EQ(lassynth::read_bytes(dir_ / "out.las").size(), 24u);
    }

    void shrink_victim() {
        const off_t size = tiles_[1].file.header.OffsetToData + 100 * 28 + 5;
        ASSERT_EQ(::truncate(victim_.c_str(), size), 0);
    }

    ScratchDir dir_;
    std::vector<Tile> tiles_;
    std::string list_, victim_;
};

TEST_F(ChangingInputs, ShrunkBeforeItsCopy) {
    // Cut to half its records while the first file is copied: its header is read again and
    // judged against its size before any of its bytes are copied.
    ChangingFs fs(first_copy, [&] { shrink_victim(); });
    const auto result = merge(fs);
    ASSERT_TRUE(fs.changed());
    expect_failed(result, "\n" + victim_ +
                              " is shorter than its header states: 200 points of 28 bytes from "
                              "offset 297 need 5897 bytes, the file has 3102\n");
}

TEST_F(ChangingInputs, ShrunkDuringItsCopy) {
    // Cut while its own records are being copied, by the kernel copy or through the buffer.
    for (const bool buffered : {false, true}) {
        SCOPED_TRACE(buffered ? "buffered copy" : "kernel copy");
        ChangingFs fs(
            [&](testing_support::Call, int fd, off_t offset) {
                return offset >= off_t{korvane::kHeaderBytes} && is_file(fd, victim_);
            },
            [&] { shrink_victim(); });
        if (buffered) fs.fail_always(testing_support::Call::CopyFileRange, EXDEV);
        const auto result = merge(fs);
        ASSERT_TRUE(fs.changed());
        expect_failed(result, "\n" + victim_ + " is shorter than its header states\n");
        tiles_[1].file.write(victim_);
    }
}

TEST_F(ChangingInputs, HeaderRewrittenBeforeItsCopy) {
    // More records appended and counted in its header after the merged header was computed: the
    // merged header would not describe the file, so nothing is written.
    ChangingFs fs(first_copy, [&] {
        lassynth::LasFile grown = tiles_[1].file;
        grown.points.insert(grown.points.end(), 28 * 10, std::byte{7});
        grown.header.NumberOfPointReturns += 10;
        grown.write(victim_);
    });
    const auto result = merge(fs);
    ASSERT_TRUE(fs.changed());
    expect_failed(result, "\nThe inputs changed while they were being merged; " + dir_ / "out.las" +
                              " not written\n");
}

TEST_F(ChangingInputs, RecordLengthRewrittenBeforeItsCopy) {
    // Its header now states shorter records, which its bytes can still hold: its records would
    // no longer be those the merged header describes.
    ChangingFs fs(first_copy, [&] {
        lassynth::LasFile changed = tiles_[1].file;
        changed.header.PointDataRecordLength = 20;
        changed.write(victim_);
    });
    const auto result = merge(fs);
    ASSERT_TRUE(fs.changed());
    expect_failed(result, "\n" + victim_ + " changed while it was being merged\n");
}

// ---- Names ---------------------------------------------------------------------------------

TEST(HostileInputs, NamesWithBlanksCannotBeListed) {
    // Names in the list are separated by white space, so "my tile.las" is read as two names,
    // and the user is told that the first of them, "my", does not exist.
    ScratchDir dir;
    std::vector<Tile> tiles = two_tiles();
    tiles[1].name = "my tile.las";
    write_tiles(dir, tiles);
    expect_refused(dir, {"list.txt", "out.las"},
                   "Unable to open file my in file_access()\n\nFile my does NOT exist\n"
                   "my (listed in list.txt) is not a valid LAS file\n");
}

TEST(HostileInputs, NonAsciiNamesMerge) {
    ScratchDir dir;
    std::vector<Tile> tiles = {make_tile("tuile-\xc3\xa9t\xc3\xa9.las", 2, 0, 30, 1),
                               make_tile("\xe7\x82\xb9\xe4\xba\x91.las", 2, 0, 20, 2),
                               make_tile("raw-\xff\xfe\x80.las", 2, 0, 10, 3)};
    const std::string list = write_tiles(dir, tiles);
    const std::string output = "sortie-\xc3\xa9-\xff.las";
    const ChildResult r = run_quillet_in(dir, {list, output});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("\n3 files to be merged into " + output + "\n"), std::string::npos);
    EXPECT_EQ(lassynth::read_bytes(dir / output), testing_support::expected_merge(tiles));
}

TEST(HostileInputs, TenThousandNames) {
    ScratchDir dir;
    const std::vector<Tile> two = two_tiles();
    write_tiles(dir, two);
    std::vector<Tile> listed;
    std::string list;
    for (int i = 0; i < 10000; ++i) {
        listed.push_back(two[static_cast<std::size_t>(i % 2)]);
        list += listed.back().name + (i % 7 == 0 ? "\t" : "\n");
    }
    dir.write_text("list.txt", list);

    const auto start = std::chrono::steady_clock::now();
    const ChildResult r = run_quillet_in(dir, {"list.txt", "out.las"});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[10,000 names] merged in %.2f s\n", seconds);
    EXPECT_EQ(r.exit_status, 0) << r.out.substr(0, 2000);
    EXPECT_NE(r.out.find("\n10000 files to be merged into out.las\n"), std::string::npos);
    EXPECT_NE(r.out.find("\rb.las (10000 / 10000)"), std::string::npos);
    EXPECT_EQ(lassynth::read_bytes(dir / "out.las"), testing_support::expected_merge(listed));
    // A few milliseconds per name would already be a fault; this bound only catches work that
    // grows with the square of the list.
    EXPECT_LT(seconds, 60.0);
}

// ---- Outputs that cannot be created --------------------------------------------------------

TEST(HostileInputs, OutputInADirectoryNoOneMayWrite) {
    // Nobody, root included, may create files in /sys.
    ScratchDir dir;
    write_tiles(dir, two_tiles());
    const ChildResult r = run_quillet_in(dir, {"list.txt", "/sys/quillet-out.las"});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_NE(r.out.find("\n2 files to be merged into /sys/quillet-out.las\n"
                         "\nCannot open binary file /sys/quillet-out.las for writing\n"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(testing_support::file_exists("/sys/quillet-out.las"));
}

TEST(HostileInputs, OutputInAReadOnlyDirectory) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root, which may write into read-only directories; the "
                        "read-only case is covered by OutputInADirectoryNoOneMayWrite";
    ScratchDir dir;
    write_tiles(dir, two_tiles());
    ASSERT_EQ(::mkdir((dir / "ro").c_str(), 0755), 0);
    dir.write_text("ro/out.las", "the user's earlier merge");
    ASSERT_EQ(::chmod((dir / "ro").c_str(), 0555), 0);
    const ChildResult r = run_quillet_in(dir, {"list.txt", "ro/out.las"});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_NE(r.out.find("\nCannot open binary file ro/out.las for writing\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(list_dir(dir / "ro"), std::vector<std::string>{"out.las"});
    EXPECT_EQ(lassynth::read_bytes(dir / "ro/out.las").size(), 24u);
}

}  // namespace
