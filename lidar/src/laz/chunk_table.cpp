#include "chunk_table.hpp"

#include <algorithm>

#include "las/byte_order.hpp"

namespace korvane::laz {

ChunkTableHeader parse_chunk_table_header(
    std::span<const std::byte, kChunkTableHeaderBytes> bytes) {
    return {get_le<std::uint32_t>(bytes, 0), get_le<std::uint32_t>(bytes, 4)};
}

std::uint64_t fixed_chunk_count(std::uint64_t points, std::uint32_t chunk_size) {
    return points / chunk_size + (points % chunk_size != 0);
}

void set_fixed_chunk_points(std::span<LazChunk> chunks, std::uint64_t points,
                            std::uint32_t chunk_size) {
    for (std::size_t i = 0; i < chunks.size(); ++i)
        chunks[i].points = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(chunk_size, points - std::min(points, i * chunk_size)));
}

std::vector<std::byte> build_chunk_table(std::span<const LazChunk> chunks, bool variable) {
    std::vector<std::byte> table(kChunkTableHeaderBytes);
    put_le<std::uint32_t>(table, 0, kChunkTableVersion);
    put_le<std::uint32_t>(table, 4, static_cast<std::uint32_t>(chunks.size()));
    const std::vector<std::byte> coded = encode_chunk_table(chunks, variable);
    table.insert(table.end(), coded.begin(), coded.end());
    return table;
}

}  // namespace korvane::laz
