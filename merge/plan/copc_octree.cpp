#include "plan/copc_octree.hpp"

#include <algorithm>
#include <cmath>

namespace quillet {
namespace {

constexpr int kCellBits = 7;  // 2^7 = kCopcCells
static_assert(1 << kCellBits == kCopcCells);

}  // namespace

OctreeCube octree_cube(const std::array<double, 6>& box, double min_half_size) {
    OctreeCube cube;
    double side = 0;
    for (std::size_t a = 0; a < 3; ++a) {
        cube.centre[a] = box[a] / 2 + box[a + 3] / 2;
        side = std::max(side, box[a + 3] - box[a]);
    }
    cube.half_size = std::max(side / 2, min_half_size);
    return cube;
}

CellMapper::CellMapper(const OctreeCube& cube, const std::array<double, 3>& scale,
                       const std::array<double, 3>& offset, int max_depth)
    : last_(static_cast<double>((std::uint64_t{1} << (max_depth + kCellBits)) - 1)) {
    const double cells_per_length = (last_ + 1) / (2 * cube.half_size);
    for (std::size_t a = 0; a < 3; ++a) {
        per_unit_[a] = scale[a] * cells_per_length;
        from_[a] = (offset[a] - (cube.centre[a] - cube.half_size)) * cells_per_length;
    }
}

NodeSampler::NodeSampler(const korvane::laz::VoxelKey& key, const OctreeRules& rules)
    : sample_shift_(rules.max_depth - key.depth),
      child_shift_(rules.max_depth + kCellBits - key.depth - 1),
      taken_(std::size_t{1} << (3 * kCellBits)) {}

int NodeSampler::place(const OctreeCell& c) {
    std::size_t code = 0;
    for (std::size_t a = 0; a < 3; ++a)
        code |= std::size_t{(c[a] >> sample_shift_) & (kCopcCells - 1)} << (kCellBits * a);
    if (!taken_[code]) {
        taken_[code] = true;
        return kKept;
    }
    int octant = 0;
    for (std::size_t a = 0; a < 3; ++a)
        octant |= static_cast<int>((c[a] >> child_shift_) & 1u) << a;
    return octant;
}

bool build_octree(std::span<const OctreeCell> cells, const OctreeRules& rules,
                  const korvane::laz::VoxelKey& head,
                  const std::function<bool(const OctreeNode&)>& found) {
    if (cells.empty()) return true;
    std::vector<OctreeNode> pending(1);
    pending[0].key = head;
    pending[0].points.resize(cells.size());
    for (std::uint32_t i = 0; i < cells.size(); ++i) pending[0].points[i] = i;

    // Depth first: the last pending node is split next, its children pushed last octant first.
    while (!pending.empty()) {
        OctreeNode node = std::move(pending.back());
        pending.pop_back();
        if (is_leaf(node.points.size(), node.key.depth, rules)) {
            if (!found(node)) return false;
            continue;
        }
        NodeSampler sampler(node.key, rules);
        std::array<OctreeNode, 8> children;
        for (int o = 0; o < 8; ++o) children[static_cast<std::size_t>(o)].key = node.key.child(o);
        std::vector<std::uint32_t> kept;
        for (const std::uint32_t p : node.points) {
            const int octant = sampler.place(cells[p]);
            if (octant == NodeSampler::kKept)
                kept.push_back(p);
            else
                children[static_cast<std::size_t>(octant)].points.push_back(p);
        }
        node.points = std::move(kept);
        if (!found(node)) return false;
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            if (!child->points.empty()) pending.push_back(std::move(*child));
    }
    return true;
}

int estimate_octree_depth(const std::array<double, 6>& box, std::uint64_t points,
                          const OctreeCube& cube, const OctreeRules& rules) {
    // The points taken as a surface over the box's two longest sides, as terrain is: the nodes
    // and sampling cells of each level that the surface crosses.
    std::array<double, 3> extent{};
    for (std::size_t a = 0; a < 3; ++a) extent[a] = box[a + 3] - box[a];
    std::sort(extent.begin(), extent.end());
    auto left = static_cast<double>(points);
    for (int depth = 0; depth < rules.max_depth; ++depth) {
        const double side = 2 * cube.half_size / std::ldexp(1.0, depth);
        double nodes = 1, cells = 1;
        for (std::size_t a = 1; a < 3; ++a) {
            nodes *= std::max(1.0, std::ceil(extent[a] / side));
            cells *= std::clamp(std::ceil(std::min(extent[a], side) / side * kCopcCells), 1.0,
                                double{kCopcCells});
        }
        // Leaves end up about half full: a node over the leaf size splits into fuller and
        // emptier children.
        if (left <= nodes * rules.leaf_points / 2) return depth;
        left -= std::min(left, nodes * cells);
    }
    return rules.max_depth;
}

}  // namespace quillet
