// Building blocks of the merge tests: tiles written into a scratch directory, a list file that
// names them, and the bytes a correct merge of them must have.
#pragma once

#include <string>
#include <vector>

#include "child_process.hpp"
#include "las_synth.hpp"
#include "scratch_dir.hpp"

namespace testing_support {

// The banner that every run prints first.
extern const char* const kBanner;

struct Tile {
    std::string name;  // as listed (relative to the scratch directory)
    lassynth::LasFile file;
};

// A tile of LAS 1.minor, point format `format`, with `count` points from `seed`.
Tile make_tile(const std::string& name, std::uint8_t minor, std::uint8_t format, std::size_t count,
               std::uint32_t seed, bool with_vlr = true);

// Writes the tiles into the directory and a list file naming them, one per line; returns the
// list file's name (relative to the directory).
std::string write_tiles(const ScratchDir& dir, const std::vector<Tile>& tiles,
                        const std::string& list_name = "list.txt");

// The bytes of a correct merge: the first header with summed counts and the enclosing box, the
// first file's bytes up to its point data, then every tile's point records in order.
std::vector<std::byte> expected_merge(const std::vector<Tile>& tiles);

// A file whose header states `points` records of `length` bytes from offset 227 and whose point
// data is a hole: large inputs that take no disk space.
void write_sparse_las(const std::string& path, std::uint8_t minor, std::uint8_t format,
                      std::uint32_t points);

// Runs the built Quillet with `dir` as its working directory. A run that hangs is ended by
// SIGALRM after two minutes, so it fails its test instead of stalling the suite.
ChildResult run_quillet_in(const ScratchDir& dir, const std::vector<std::string>& args,
                           ChildOptions options = {});

// Writes a list naming `names` (one per line) in `dir`, removes `output`, and runs
// `Quillet --extended OPTIONS... list.txt OUTPUT` there.
ChildResult run_extended_merge(const ScratchDir& dir, const std::vector<std::string>& names,
                               const std::string& output, std::vector<std::string> options = {});

// Expects a refused run: exit status 255 (not a signal), the banner and then exactly `message`
// on standard output, and nothing written in `dir`.
void expect_refused(const ScratchDir& dir, const std::vector<std::string>& args,
                    const std::string& message);

}  // namespace testing_support
