// What the merge never does: write over an input, leave a partial or temporary file, clobber an
// existing output on failure, trust a header that the file cannot back, or overrun a name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "child_process.hpp"
#include "merge_fixture.hpp"

namespace {

using testing_support::ChildResult;
using testing_support::kBanner;
using testing_support::list_dir;
using testing_support::make_tile;
using testing_support::ScratchDir;
using testing_support::Tile;
using testing_support::write_tiles;

ChildResult quillet_in(const ScratchDir& dir, const std::vector<std::string>& args,
                       std::optional<rlim_t> file_size_limit = std::nullopt) {
    testing_support::ChildOptions options;
    options.file_size_limit = file_size_limit;
    return testing_support::run_quillet_in(dir, args, options);
}

std::vector<Tile> two_tiles() {
    return {make_tile("a.las", 2, 1, 400, 1), make_tile("b.las", 2, 1, 500, 2)};
}

mode_t mode_of(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(MergeSafety, OutputThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
    ScratchDir dir;
    const std::vector<Tile> tiles = two_tiles();
    const std::string list = write_tiles(dir, tiles);
    ASSERT_EQ(::symlink("a.las", (dir / "link.las").c_str()), 0);
    ASSERT_EQ(::link((dir / "b.las").c_str(), (dir / "hard.las").c_str()), 0);
    ::mkdir((dir / "sub").c_str(), 0755);
    // The same files under other spellings: ./a.las, sub/../b.las, a symbolic and a hard link.
    for (const std::string output : {"a.las", "./a.las", "sub/../b.las", "link.las", "hard.las"}) {
        SCOPED_TRACE(output);
        const ChildResult r = quillet_in(dir, {list, output});
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out,
                  kBanner + ("\nSame file name (" + output + ") has been specified twice\n"));
        EXPECT_EQ(lassynth::read_bytes(dir / "a.las"), tiles[0].file.bytes());
        EXPECT_EQ(lassynth::read_bytes(dir / "b.las"), tiles[1].file.bytes());
    }
    // The list file is the user's too.
    dir.write_text("list.las", "a.las b.las");
    const ChildResult r = quillet_in(dir, {"list.las", "list.las"});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.out,
              kBanner + std::string("\nSame file name (list.las) has been specified twice\n"));
    EXPECT_EQ(lassynth::read_bytes(dir / "list.las").size(), 11u);
}

TEST(MergeSafety, OutputThatIsADirectoryIsRefused) {
    ScratchDir dir;
    const std::string list = write_tiles(dir, two_tiles());
    ::mkdir((dir / "out.las").c_str(), 0755);
    const ChildResult r = quillet_in(dir, {list, "out.las"});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.out, kBanner + std::string("\nCannot open binary file out.las for writing\n"));
}

TEST(MergeSafety, OutputInAMissingDirectory) {
    ScratchDir dir;
    const std::string list = write_tiles(dir, two_tiles());
    const ChildResult r = quillet_in(dir, {list, "missing/out.las"});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_NE(r.out.find("\n2 files to be merged into missing/out.las\n"
                         "\nCannot open binary file missing/out.las for writing\n"),
              std::string::npos)
        << r.out;
}

TEST(MergeSafety, DiskFullLeavesNoOutputAndKeepsTheOldOne) {
    // RLIMIT_FSIZE makes every write past the limit fail as a full disk would.
    ScratchDir dir;
    const std::vector<Tile> tiles = two_tiles();
    const std::string list = write_tiles(dir, tiles);
    const std::string old_output = dir.write_text("out.las", "the user's earlier merge");
    const std::size_t full_size = testing_support::expected_merge(tiles).size();
    for (const rlim_t limit : {rlim_t{0}, rlim_t{100}, rlim_t{227}, rlim_t{300},
                               rlim_t{full_size / 2}, rlim_t{full_size - 1}}) {
        SCOPED_TRACE(limit);
        const ChildResult r = quillet_in(dir, {list, "out.las"}, limit);
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.signal, 0);
        EXPECT_NE(r.out.find("out.las: File too large\n"), std::string::npos) << r.out;
        EXPECT_EQ(lassynth::read_bytes(old_output).size(), 24u);
        EXPECT_EQ(list_dir(dir.path()),
                  (std::vector<std::string>{"a.las", "b.las", "list.txt", "out.las"}));
    }
    const ChildResult r = quillet_in(dir, {list, "out.las"}, full_size);
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(lassynth::read_bytes(old_output), testing_support::expected_merge(tiles));
}

TEST(MergeSafety, PermissionsOfNewAndReplacedOutputs) {
    ScratchDir dir;
    const std::string list = write_tiles(dir, two_tiles());
    const mode_t saved = ::umask(027);
    const ChildResult fresh = quillet_in(dir, {list, "new.las"});
    ::umask(saved);
    EXPECT_EQ(fresh.exit_status, 0);
    EXPECT_EQ(mode_of(dir / "new.las"), 0640u) << "0666 less the umask";

    dir.write_text("kept.las", "old");
    ::chmod((dir / "kept.las").c_str(), 0604);
    const ChildResult replaced = quillet_in(dir, {list, "kept.las"});
    EXPECT_EQ(replaced.exit_status, 0);
    EXPECT_EQ(mode_of(dir / "kept.las"), 0604u) << "a replaced file keeps its permissions";
}

TEST(MergeSafety, InputsThatCannotHoldWhatTheirHeaderStates) {
    struct Case {
        const char* what;
        void (*damage)(lassynth::LasFile&);
        std::string message;
    };
    const Case cases[] = {
        {"shorter than a header",
         [](lassynth::LasFile& f) {
             f.between.clear();
             f.points.clear();
             f.header.OffsetToData = 227;
             f.header.NumberOfPointReturns = 0;
         },
         ""},  // filled in below: the file is cut to 150 bytes after writing
        {"OffsetToData inside the header",
         [](lassynth::LasFile& f) { f.header.OffsetToData = 200; },
         "\nOffsetToData of b.las (200) lies inside its 227-byte header\n"},
        {"one record missing", [](lassynth::LasFile& f) { f.points.resize(f.points.size() - 28); },
         "\nb.las is shorter than its header states: 500 points of 28 bytes from offset 297 "
         "need 14297 bytes, the file has 14269\n"},
        {"one byte missing", [](lassynth::LasFile& f) { f.points.pop_back(); },
         "\nb.las is shorter than its header states: 500 points of 28 bytes from offset 297 "
         "need 14297 bytes, the file has 14296\n"},
        {"a count far beyond the file",
         [](lassynth::LasFile& f) { f.header.NumberOfPointReturns = 0xFFFFFFFFu; },
         "\nb.las is shorter than its header states: 4294967295 points of 28 bytes from offset "
         "297 need 120259084557 bytes, the file has 14297\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        std::vector<Tile> tiles = two_tiles();
        c.damage(tiles[1].file);
        const std::string list = write_tiles(dir, tiles);
        std::string message = c.message;
        if (message.empty()) {
            ASSERT_EQ(::truncate((dir / "b.las").c_str(), 150), 0);
            message = "\nb.las is too short to hold a LAS header (150 bytes)\n";
        }
        dir.write_text("out.las", "old");
        const ChildResult r = quillet_in(dir, {list, "out.las"});
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out, kBanner + message);
        EXPECT_EQ(lassynth::read_bytes(dir / "out.las").size(), 3u);
    }
}

TEST(MergeSafety, TrailingBytesAfterTheLastRecordAreIgnored) {
    ScratchDir dir;
    std::vector<Tile> tiles = two_tiles();
    const std::string list = write_tiles(dir, tiles);
    std::vector<std::byte> padded = tiles[0].file.bytes();
    padded.insert(padded.end(), 13, std::byte{0xEE});
    lassynth::write_bytes(dir / "a.las", padded);
    const ChildResult r = quillet_in(dir, {list, "out.las"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(lassynth::read_bytes(dir / "out.las"), testing_support::expected_merge(tiles));
}

TEST(MergeSafety, LongNamesUpToThePathLimit) {
    ScratchDir dir;
    // Nested directories make a relative name of about 1,000 characters.
    std::string sub;
    for (int i = 0; i < 8; ++i) {
        sub += std::string(120, static_cast<char>('a' + i)) + "/";
        ASSERT_EQ(::mkdir((dir / sub).c_str(), 0755), 0);
    }
    std::vector<Tile> tiles = two_tiles();
    tiles[0].name = sub + tiles[0].name;
    tiles[1].name = sub + tiles[1].name;
    const std::string list = write_tiles(dir, tiles);
    const ChildResult r = quillet_in(dir, {list, sub + "merged.las"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(lassynth::read_bytes(dir / (sub + "merged.las")),
              testing_support::expected_merge(tiles));

    // A name no path can be is refused with a message, not copied into a fixed buffer.
    const std::string endless(PATH_MAX + 10, 'n');
    dir.write_text("long.txt", "a.las " + endless + ".las\n");
    const ChildResult refused = quillet_in(dir, {"long.txt", "out.las"});
    EXPECT_EQ(refused.exit_status, 255);
    EXPECT_EQ(refused.out, kBanner + ("\nA name listed in long.txt is longer than " +
                                      std::to_string(PATH_MAX - 1) +
                                      " characters: " + std::string(60, 'n') + "...\n"));
}

}  // namespace
