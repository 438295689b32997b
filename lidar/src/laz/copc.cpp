#include "laz/copc.hpp"

#include "las/byte_order.hpp"

namespace korvane::laz {

std::array<std::byte, kCopcInfoBytes> build_copc_info(const CopcInfo& info) {
    std::array<std::byte, kCopcInfoBytes> b{};
    for (std::size_t a = 0; a < 3; ++a) put_le(b, 8 * a, info.centre[a]);
    put_le(b, 24, info.half_size);
    put_le(b, 32, info.spacing);
    put_le(b, copc_info_at::kRootPageOffset, info.root_page_offset);
    put_le(b, copc_info_at::kRootPageOffset + 8, info.root_page_size);
    put_le(b, 56, info.gps_time_min);
    put_le(b, 64, info.gps_time_max);
    return b;  // the 11 reserved u64 stay 0
}

std::vector<std::byte> build_copc_page(std::span<const CopcEntry> entries) {
    std::vector<std::byte> b(entries.size() * kCopcEntryBytes);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CopcEntry& e = entries[i];
        const std::size_t at = i * kCopcEntryBytes;
        put_le(b, at, e.key.depth);
        put_le(b, at + 4, e.key.x);
        put_le(b, at + 8, e.key.y);
        put_le(b, at + 12, e.key.z);
        put_le(b, at + 16, e.offset);
        put_le(b, at + 24, e.byte_size);
        put_le(b, at + 28, e.point_count);
    }
    return b;
}

}  // namespace korvane::laz
