// The octree of a cloud optimised LAZ output, from its points' real coordinates; pure. The cube
// is centred on the points' box, its half size half the box's longest side (at least a minimum,
// so that one point or a flat tile has a cube). Each node keeps a spatially even sample of the
// points that reach it: of the points in one cell of a grid of kCopcCells cells a side over the
// node, the first in input order; it passes the others to its eight children. A node that
// receives at most `leaf_points` points keeps them all (a leaf), as does a node at `max_depth`
// (where coincident points end). The rule depends on nothing but the points and their order, so
// the octree is the same whatever the threads or memory.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "laz/copc.hpp"

namespace quillet {

inline constexpr int kCopcCells = 128;  // cells a side of a node's sampling grid

struct OctreeCube {
    std::array<double, 3> centre{};
    double half_size = 0;
    // The spacing of the root's sample: the side of one of its cells.
    double spacing() const { return 2 * half_size / kCopcCells; }
};

// The cube around a box (min x y z, max x y z); its half size at least `min_half_size`.
OctreeCube octree_cube(const std::array<double, 6>& box, double min_half_size);

struct OctreeRules {
    std::uint32_t leaf_points = 100000;
    int max_depth = 20;
};

struct OctreeNode {
    korvane::laz::VoxelKey key;
    std::vector<std::uint32_t> points;  // indices into the points, in input order
};

// A point's cell at the finest resolution, 2^(max depth + 7) a side over the cube: all that the
// octree needs of it (12 bytes, not its record). Points on the cube's far faces go in its last
// cells.
using OctreeCell = std::array<std::uint32_t, 3>;
OctreeCell octree_cell(const std::array<double, 3>& point, const OctreeCube& cube, int max_depth);

// The non-empty nodes of the octree of the points in `cells` (built with the same max depth), in
// key order (depth, then x, y, z). Every point is in exactly one node.
std::vector<OctreeNode> build_octree(std::span<const OctreeCell> cells, const OctreeRules& rules);

}  // namespace quillet
