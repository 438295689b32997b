// Cloud optimised LAZ (COPC 1.0): a LAZ 1.4 file of point format 6-8 whose chunks are the nodes of
// an octree. Its info VLR (user id "copc", record 1, the first VLR) states the octree's cube, the
// root's point spacing, where the hierarchy's root page lies and the GPS time range; its
// hierarchy EVLR (user id "copc", record 1000) holds pages of 32-byte entries, one per node or
// per child page. Only layouts and byte moves; building the octree is the caller's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace korvane::laz {

inline constexpr std::uint16_t kCopcInfoRecordId = 1;
inline constexpr std::uint16_t kCopcHierarchyRecordId = 1000;
inline constexpr std::size_t kCopcInfoBytes = 160;
inline constexpr std::size_t kCopcEntryBytes = 32;

// The info VLR's payload: f64 centre x, y, z, half size, spacing; u64 root hierarchy page offset
// and size; f64 GPS time minimum and maximum; 11 reserved u64 zeros.
struct CopcInfo {
    std::array<double, 3> centre{};
    double half_size = 0;
    double spacing = 0;
    std::uint64_t root_page_offset = 0;  // in the file
    std::uint64_t root_page_size = 0;
    double gps_time_min = 0, gps_time_max = 0;
};
std::array<std::byte, kCopcInfoBytes> build_copc_info(const CopcInfo& info);
namespace copc_info_at {
inline constexpr std::size_t kRootPageOffset = 40;  // u64, then the size
}

// A node's key: its depth and its place among the 2^depth cubes a side at that depth.
struct VoxelKey {
    std::int32_t depth = 0, x = 0, y = 0, z = 0;
    auto operator<=>(const VoxelKey&) const = default;
    VoxelKey child(int octant) const {  // octant bits: x 1, y 2, z 4
        return {depth + 1, 2 * x + (octant & 1), 2 * y + ((octant >> 1) & 1),
                2 * z + ((octant >> 2) & 1)};
    }
};

// One hierarchy entry: a node's key, where its chunk lies and its point count (> 0), or 0 for an
// empty node (offset and size 0), or -1 for a child page (offset and size those of the page).
struct CopcEntry {
    VoxelKey key;
    std::uint64_t offset = 0;
    std::int32_t byte_size = 0;
    std::int32_t point_count = 0;
};
// A page's bytes: i32 depth, x, y, z; u64 offset; i32 byte size; i32 point count, per entry.
std::vector<std::byte> build_copc_page(std::span<const CopcEntry> entries);

}  // namespace korvane::laz
