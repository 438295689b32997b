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

OctreeCell octree_cell(const std::array<double, 3>& point, const OctreeCube& cube, int max_depth) {
    const double cells = std::ldexp(1.0, max_depth + kCellBits);
    OctreeCell c{};
    for (std::size_t a = 0; a < 3; ++a) {
        const double from_min = point[a] - (cube.centre[a] - cube.half_size);
        const double at = std::floor(from_min / (2 * cube.half_size) * cells);
        c[a] = static_cast<std::uint32_t>(std::clamp(at, 0.0, cells - 1));
    }
    return c;
}

std::vector<OctreeNode> build_octree(std::span<const OctreeCell> cells, const OctreeRules& rules) {
    std::vector<OctreeNode> done;
    if (cells.empty()) return done;
    std::vector<OctreeNode> pending(1);
    pending[0].points.resize(cells.size());
    for (std::uint32_t i = 0; i < cells.size(); ++i) pending[0].points[i] = i;

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
            const OctreeCell& c = cells[p];
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
