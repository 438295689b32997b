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
#include <functional>
#include <span>
#include <vector>

#include "las/byte_order.hpp"
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
// octree needs of it (12 bytes, not its record).
using OctreeCell = std::array<std::uint32_t, 3>;

// Finds the cells of records on one grid (scale and offset per axis) from their integer X, Y, Z:
// one multiply and add an axis. Points on the cube's far faces go in its last cells.
class CellMapper {
  public:
    CellMapper() = default;
    CellMapper(const OctreeCube& cube, const std::array<double, 3>& scale,
               const std::array<double, 3>& offset, int max_depth);
    OctreeCell operator()(const std::array<std::int32_t, 3>& xyz) const {
        OctreeCell c{};
        for (std::size_t a = 0; a < 3; ++a) {
            const double at = xyz[a] * per_unit_[a] + from_[a];
            c[a] = at <= 0       ? 0
                   : at >= last_ ? static_cast<std::uint32_t>(last_)
                                 : static_cast<std::uint32_t>(at);
        }
        return c;
    }
    // The cell of a record of any point format: its X, Y, Z come first.
    OctreeCell operator()(std::span<const std::byte> record) const {
        return (*this)({korvane::get_le<std::int32_t>(record, 0),
                        korvane::get_le<std::int32_t>(record, 4),
                        korvane::get_le<std::int32_t>(record, 8)});
    }

  private:
    std::array<double, 3> per_unit_{}, from_{};  // cells per integer unit; the cell of X = 0
    double last_ = 0;                            // the last cell's number
};

// Decides, point by point in input order, what one node does with the points that reach it: keeps
// the first of each of its sampling cells, passes the others to the child whose octant they are
// in. Whether the node is a leaf is the caller's to know (from the count that reaches it).
class NodeSampler {
  public:
    NodeSampler(const korvane::laz::VoxelKey& key, const OctreeRules& rules);
    static constexpr int kKept = -1;
    // kKept, or the octant (x 1, y 2, z 4) of the child that the point goes to.
    int place(const OctreeCell& cell);

  private:
    int sample_shift_, child_shift_;
    std::vector<bool> taken_;  // of the node's kCopcCells^3 sampling cells
};

// Whether a node at `depth` that `count` points reach keeps them all.
inline bool is_leaf(std::uint64_t count, int depth, const OctreeRules& rules) {
    return count <= rules.leaf_points || depth >= rules.max_depth;
}

// Gives `found` the non-empty nodes of the subtree headed by `head` that the points in `cells`
// (those that reach `head`, in input order, their cells of the same max depth) make, depth
// first: a node, then its children's subtrees in octant order; each as soon as its points are
// known. Every point is in exactly one node. A subtree built apart from the rest of the octree is
// the same as within it, so the octree can be built one subtree at a time, in whatever memory.
// Stops at the first node that `found` gives false for; false then.
bool build_octree(std::span<const OctreeCell> cells, const OctreeRules& rules,
                  const korvane::laz::VoxelKey& head,
                  const std::function<bool(const OctreeNode&)>& found);

// The octree's likely depth for `points` spread evenly over the box (min x y z, max x y z) in
// `cube`: a plan's estimate, not a bound.
int estimate_octree_depth(const std::array<double, 6>& box, std::uint64_t points,
                          const OctreeCube& cube, const OctreeRules& rules);

}  // namespace quillet
