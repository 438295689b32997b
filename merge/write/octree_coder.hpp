// The work of the coding threads for a cloud optimised output: a piece of the octree made into
// LAZ chunks. A node's records become one layered chunk; a subtree's records are built into its
// nodes first, each then one chunk. Pure: records in, chunks out.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "laz/copc.hpp"
#include "laz/laszip_record.hpp"
#include "plan/copc_octree.hpp"
#include "write/octree_builder.hpp"

namespace quillet {

// Gives `found` each node of `piece`, depth first, with its records in input order.
void each_piece_node(
    const OctreePiece& piece, const OctreeRules& rules, const CellMapper& cells,
    std::size_t record_length,
    const std::function<void(const korvane::laz::VoxelKey&, std::span<const std::byte>)>& found);

struct CodedPiece {
    struct Node {
        korvane::laz::VoxelKey key;
        std::uint32_t points = 0;
        std::uint32_t bytes = 0;  // of its chunk
    };
    std::vector<Node> nodes;           // depth first
    std::vector<std::byte> chunks;     // the nodes' chunks back to back
    std::array<double, 2> gps_time{};  // the least and the greatest of its points'
};

// `piece` coded with `record` (point format 6-8, layered), whose GPS time is at `gps_at`.
CodedPiece code_piece(const OctreePiece& piece, const OctreeRules& rules, const CellMapper& cells,
                      const korvane::laz::LaszipRecord& record, std::size_t gps_at);

}  // namespace quillet
