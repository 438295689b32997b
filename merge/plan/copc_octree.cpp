#include "plan/copc_octree.hpp"

#include <algorithm>
#include <cmath>

namespace quillet {
namespace {

constexpr int kCellBits = 7;  // 2^7 = kCopcCells
static_assert(1 << kCellBits == kCopcCells);

using Cell = std::array<std::uint32_t, 3>;

// Each point's cell at the finest resolution, 2^(max depth + 7) a side: a node at depth d holds
// the points whose cell >> (max depth + 7 - d) is its x, y, z, and samples them by
// (cell >> (max depth - d)) & 127. Points on the cube's far faces go in its last cells.
std::vector<Cell> finest_cells(std::span<const std::array<double, 3>> points,
                               const OctreeCube& cube, int max_depth) {
    const double cells = std::ldexp(1.0, max_depth + kCellBits);
    const double last = cells - 1;
    std::vector<Cell> out(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        for (std::size_t a = 0; a < 3; ++a) {
            const double from_min = points[i][a] - (cube.centre[a] - cube.half_size);
            const double at = std::floor(from_min / (2 * cube.half_size) * cells);
            out[i][a] = static_cast<std::uint32_t>(std::clamp(at, 0.0, last));
        }
    return out;
}

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

std::vector<OctreeNode> build_octree(std::span<const std::array<double, 3>> points,
                                     const OctreeCube& cube, const OctreeRules& rules) {
    const std::vector<Cell> cells = finest_cells(points, cube, rules.max_depth);
    std::vector<OctreeNode> done;
    std::vector<OctreeNode> pending(1);
    pending[0].points.resize(points.size());
    for (std::uint32_t i = 0; i < points.size(); ++i) pending[0].points[i] = i;
    if (points.empty()) return done;

    // Which sampling cells of the node at hand are taken; reset cell by cell after each node.
    std::vector<bool> taken(std::size_t{1} << (3 * kCellBits));
    std::vector<std::uint32_t> touched;
    while (!pending.empty()) {
        OctreeNode node = std::move(pending.back());
        pending.pop_back();
        const int d = node.key.depth;
        if (node.points.size() <= rules.leaf_points || d >= rules.max_depth) {
            done.push_back(std::move(node));
            continue;
        }
        const int sample_shift = rules.max_depth - d;
        const int child_shift = rules.max_depth + kCellBits - d - 1;
        std::array<OctreeNode, 8> children;
        for (int o = 0; o < 8; ++o) children[static_cast<std::size_t>(o)].key = node.key.child(o);
        std::vector<std::uint32_t> kept;
        for (const std::uint32_t p : node.points) {
            const Cell& c = cells[p];
            std::uint32_t code = 0;
            for (std::size_t a = 0; a < 3; ++a)
                code |= ((c[a] >> sample_shift) & (kCopcCells - 1)) << (kCellBits * a);
            if (!taken[code]) {
                taken[code] = true;
                touched.push_back(code);
                kept.push_back(p);
                continue;
            }
            std::size_t octant = 0;
            for (std::size_t a = 0; a < 3; ++a) octant |= ((c[a] >> child_shift) & 1u) << a;
            children[octant].points.push_back(p);
        }
        for (const std::uint32_t code : touched) taken[code] = false;
        touched.clear();
        node.points = std::move(kept);
        done.push_back(std::move(node));
        for (OctreeNode& child : children)
            if (!child.points.empty()) pending.push_back(std::move(child));
    }
    std::sort(done.begin(), done.end(),
              [](const OctreeNode& a, const OctreeNode& b) { return a.key < b.key; });
    return done;
}

}  // namespace quillet
