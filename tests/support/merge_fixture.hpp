// Building blocks of the merge tests: tiles written into a scratch directory, a list file that
// names them, and the bytes a correct merge of them must have.
#pragma once

#include <string>
#include <vector>

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

}  // namespace testing_support
