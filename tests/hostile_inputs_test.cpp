// Odd and hostile things in the list or on the disk: what is not a regular file, lists that are
// not text, inputs that change while they are merged, unusual names, very long lists and outputs
// that cannot be created. Each is refused with one clear message and exit status 255, or merged
// correctly where it is a proper request; none may hang.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include "captured_output.hpp"
#include "child_process.hpp"
#include "cli/merge_driver.hpp"
#include "fault_injecting_fs.hpp"
#include "las_header.hpp"
#include "laz/chunk_table.hpp"
#include "laz_sample.hpp"
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

// Everything the checks, the merged header and the plan read of an input is read again before
// and after its copy: a header field, a record the checks compare or the merge keeps, a LASzip
// record or a chunk table rewritten while the first file is copied refuses the merge.
TEST(InputsChangedDuringTheMerge, WhatThePlanReadMayNotChange) {
    using Bytes = std::vector<std::byte>;
    const std::string samples = std::string(SAMPLES_DIR) + "/";
    ASSERT_TRUE(std::filesystem::exists(samples + "lone-star-split-1.laz"))
        << "missing test data: no LAZ samples in " << SAMPLES_DIR;
    auto set_f64 = [](std::size_t at, double v) {
        return [at, v](Bytes& b) { std::memcpy(&b[at], &v, sizeof v); };
    };
    auto flip = [](std::size_t at) { return [at](Bytes& b) { b[at] ^= std::byte{1}; }; };
    struct Case {
        const char* what;
        const char* merge;   // "classic", "las14" or "laz"
        const char* victim;  // the file that changes
        std::function<void(Bytes&)> change;
        bool count_only = false;  // the merged header no longer adds up
    };
    // LAS 1.4 tiles: an Extra Bytes record (compared) at byte 375 + 54, records of 32 bytes, and
    // a coordinate system EVLR (compared, and the first file's kept) at the end.
    const std::size_t payload = 375 + 54;
    const Case cases[] = {
        {"classic: a scale factor", "classic", "b.las", set_f64(131, 0.5)},
        {"classic: an offset", "classic", "b.las", set_f64(171, 3.0)},
        {"classic: the box", "classic", "b.las", set_f64(179, 1e7)},
        {"classic: the first file's records", "classic", "a.las", flip(227 + 54)},
        {"classic: the point count", "classic", "b.las",
         [](Bytes& b) {
             b.insert(b.end(), 28, std::byte{7});
             b[107] = std::byte(std::to_integer<int>(b[107]) + 1);
         },
         true},
        {"1.4: a scale factor", "las14", "b.las", set_f64(139, 0.5)},
        {"1.4: the GPS time type", "las14", "b.las", flip(6)},
        {"1.4: an Extra Bytes record", "las14", "b.las", flip(payload + 10)},
        {"1.4: the first file's coordinate system", "las14", "a.las",
         [](Bytes& b) { b.back() ^= std::byte{1}; }},
        {"LAZ: a scale factor", "laz", "b.laz", set_f64(131, 0.5)},
        {"LAZ: the LASzip record", "laz", "b.laz", flip(540 + 8)},  // its options
        {"LAZ: the chunk table", "laz", "b.laz",
         [](Bytes& b) {
             // Two chunks' sizes swapped: the table still adds up, but lists other chunks.
             std::string error;
             const std::string path = std::string(SAMPLES_DIR) + "/lone-star-split-4.laz";
             auto z = testing_support::load_laz_sample(path, error).value();
             std::vector<korvane::LazChunk> chunks;
             for (const auto& c : z.chunks)
                 chunks.push_back({c.points, static_cast<std::uint32_t>(c.bytes.size())});
             std::swap(chunks[0].bytes, chunks[1].bytes);
             std::int64_t table;
             std::memcpy(&table, &b[586], 8);
             b.resize(static_cast<std::size_t>(table));
             const Bytes coded = korvane::laz::build_chunk_table(chunks, false);
             b.insert(b.end(), coded.begin(), coded.end());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string kind = c.merge;
        ScratchDir dir;
        std::vector<std::string> names;
        if (kind == "classic") {
            for (const Tile& t :
                 {make_tile("a.las", 2, 1, 300, 1), make_tile("b.las", 2, 1, 200, 2)})
                t.file.write(dir / t.name), names.push_back(t.name);
        } else if (kind == "las14") {
            for (std::uint32_t seed : {1u, 2u}) {
                lassynth::LasFile f =
                    lassynth::make_las_extended(4, 6, lassynth::random_points(100, seed), 2, false);
                f.between = lassynth::vlr("LASF_Spec", 4, Bytes(192, std::byte{1}));
                f.header.NumberOfVariableLengthRecords = 1;
                f.after = lassynth::evlr("LASF_Projection", 2112, Bytes(40, std::byte{3}));
                f.set_extension_u32(243, 1);
                f.lay_out();
                names.push_back(seed == 1 ? "a.las" : "b.las");
                f.write(dir / names.back());
            }
        } else {
            names = {"a.laz", "b.laz"};
            std::filesystem::copy_file(samples + "lone-star-split-1.laz", dir / "a.laz");
            std::filesystem::copy_file(samples + "lone-star-split-4.laz", dir / "b.laz");
        }
        std::string list;
        for (const std::string& n : names) list += dir / n + "\n";
        const std::string list_file = dir.write_text("list.txt", list);
        const std::string output = dir / (kind == "laz" ? "out.laz" : "out.las");
        dir.write_text(std::filesystem::path(output).filename(), "the user's earlier merge");
        const std::string victim = dir / c.victim;
        ChangingFs fs(first_copy, [&] {
            Bytes b = lassynth::read_bytes(victim);
            c.change(b);
            lassynth::write_bytes(victim, b);
        });
        CapturedOutput out;
        std::vector<const char*> args = {"Quillet"};
        if (kind != "classic") args.push_back("--extended");
        args.push_back(list_file.c_str());
        args.push_back(output.c_str());
        const int status = quillet::run(args, out.file(), fs);
        ASSERT_TRUE(fs.changed());
        EXPECT_EQ(status, -1);
        const std::string printed = out.text();
        const std::string expected =
            c.count_only
                ? "\nThe inputs changed while they were being merged; " + output + " not written\n"
                : "\n" + victim + " changed while it was being merged\n";
        EXPECT_TRUE(printed.ends_with(expected)) << printed;
        std::vector<std::string> entries = names;
        entries.push_back("list.txt");
        entries.push_back(std::filesystem::path(output).filename());
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ(list_dir(dir.path()), entries) << "no temporary file may be left behind";
        EXPECT_EQ(lassynth::read_bytes(output).size(), 24u) << "the old output survives";
    }
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
