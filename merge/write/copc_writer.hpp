// The second pass of a merge into cloud optimised LAZ: the merged points, staged as a LAS 1.4 file
// of point format 6-8 on the output's grid, made into the octree's nodes in bounded memory, each
// encoded as one layered LAZ chunk on every core, and written with the info VLR first, the LASzip
// VLR and the staged file's VLRs, the chunks depth first, a variable chunk table, and the
// hierarchy EVLR before the staged file's EVLRs. The output is written under a temporary name and
// renamed into place when complete.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/events.hpp"
#include "core/status.hpp"
#include "file_system.hpp"
#include "laz/copc.hpp"
#include "plan/copc_octree.hpp"
#include "write/octree_builder.hpp"

namespace quillet {

// Where the second pass stands on the merge's one progress scale: it reports `done` from `first`
// up to first + the staged points, of `total`.
struct ProgressSpan {
    std::uint64_t first = 0;
    std::uint64_t total = 0;
};

// The staged LAS file as the second pass needs it: its header block, its VLRs' and EVLRs' bytes
// in memory, its records in the file.
struct StagedPoints {
    std::vector<std::byte> head;
    std::vector<std::byte> vlrs;
    std::vector<std::byte> evlrs;
    std::uint16_t record_length = 0;
    PointFile records;
};
Result<StagedPoints> open_staged_points(const std::string& name, korvane::FileSystem& fs);

struct CopcSettings {
    OctreeRules rules;
    unsigned threads = 1;
    std::uint64_t memory = 0;  // the budget for points in memory
    std::string temp_dir;      // the directory of the octree's temporary files
    ProgressSpan progress;
};

// Writes `output` from the staged points; the failure, with nothing left behind.
Problem write_copc(StagedPoints staged, const std::string& output, const CopcSettings& settings,
                   const MergeEvents& events, korvane::FileSystem& fs);

// The hierarchy of `nodes` (in any order, each with its chunk's offset), as pages: each
// page holds a node and its descendants down to three levels below it, and one child page entry
// for each node three levels below that has descendants, its own entry heading that child page.
// Laid out from `at` (the file offset of the first page): the root page first. The pages' bytes
// back to back and the root page's size.
struct CopcHierarchy {
    std::vector<std::byte> bytes;
    std::uint64_t root_size = 0;
};
CopcHierarchy copc_hierarchy(std::span<const korvane::laz::CopcEntry> nodes, std::uint64_t at);

}  // namespace quillet
