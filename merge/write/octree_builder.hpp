// Builds a cloud optimised output's octree from its staged records in bounded memory. A subtree
// whose points fit in the memory budget is read whole and built in memory; a node whose points do
// not is split as they stream past: its sample is kept, the rest written to one temporary file per
// child, and each child's subtree built in turn. The nodes come out depth first (a node, then its
// children's subtrees in octant order) whatever the budget, each with its records, so the output
// is the same whatever the memory. Temporary files have no name (or lose it at once): nothing is
// left of them however the process ends.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "file_system.hpp"
#include "laz/copc.hpp"
#include "plan/copc_octree.hpp"
#include "unique_fd.hpp"

namespace quillet {

// Records of one length in a file, from `at`.
struct PointFile {
    korvane::UniqueFd fd;
    std::uint64_t at = 0;
    std::uint64_t count = 0;
};

// The memory a subtree built in memory takes per point beyond its record: its cell, the node
// lists' indices with room for their growth, and its node's records gathered.
inline constexpr std::uint64_t kOctreeBytesPerPoint = 32;

// The most memory a subtree built in memory may take under a budget of `memory`: an eighth of it,
// and never more than 16 MiB, the size that measured fastest (larger subtrees, split as their
// points stream past, cost less than built whole).
inline std::uint64_t subtree_memory(std::uint64_t memory) {
    return std::min(memory / 8, std::uint64_t{16} << 20);
}

// Whether `count` points of `record_length` bytes go through a temporary file on their way to
// the octree: whether the root's subtree is split.
inline bool octree_needs_files(std::uint64_t count, std::uint16_t record_length,
                               std::uint64_t memory) {
    return count * (record_length + kOctreeBytesPerPoint) > subtree_memory(memory);
}

struct OctreeBuild {
    OctreeRules rules;
    CellMapper cells;  // of the records' X, Y, Z
    std::uint16_t record_length = 0;
    std::uint64_t subtree_memory = 0;  // the most that one subtree built in memory may take
    std::string temp_dir;              // where the temporary files go: a directory
};

// A piece of the octree, in the output's order: the records of one node (a split node's sample),
// or the records that reach the head of a subtree small enough to be built in memory, which the
// taker builds into its nodes.
struct OctreePiece {
    korvane::laz::VoxelKey head;
    bool subtree = false;
    std::vector<std::byte> records;  // in input order
};

// Takes each piece; a failure stops the build.
using PieceSink = std::function<Problem(OctreePiece)>;

// The extent of the records in `file` (in the temporary directory `dir`): the least and the
// greatest X, Y, Z as stored (min x y z, max x y z), read through once; nothing when it holds
// none.
Result<std::optional<std::array<std::int32_t, 6>>> scan_extent(PointFile& file,
                                                               std::uint16_t record_length,
                                                               const std::string& dir,
                                                               korvane::FileSystem& fs);

// Builds the octree of the points in `file` (which it takes, and closes), giving its pieces to
// `sink` depth first. `go_on` is asked between blocks of points: a failure it gives stops the
// build.
Problem build_octree_pieces(PointFile file, const OctreeBuild& build, const PieceSink& sink,
                            const std::function<Problem()>& go_on, korvane::FileSystem& fs);

}  // namespace quillet
