#include "write/octree_coder.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "las/byte_order.hpp"
#include "laz/chunk_codec.hpp"

namespace quillet {

void each_piece_node(
    const OctreePiece& piece, const OctreeRules& rules, const CellMapper& cells,
    std::size_t record_length,
    const std::function<void(const korvane::laz::VoxelKey&, std::span<const std::byte>)>& found) {
    if (!piece.subtree) {
        found(piece.head, piece.records);
        return;
    }
    const std::span<const std::byte> records = piece.records;
    std::vector<OctreeCell> of(records.size() / record_length);
    for (std::size_t i = 0; i < of.size(); ++i)
        of[i] = cells(records.subspan(i * record_length, record_length));
    std::vector<std::byte> gathered;
    build_octree(of, rules, piece.head, [&](const OctreeNode& node) {
        gathered.resize(node.points.size() * record_length);
        for (std::size_t i = 0; i < node.points.size(); ++i)
            std::memcpy(gathered.data() + i * record_length,
                        records.data() + std::size_t{node.points[i]} * record_length,
                        record_length);
        found(node.key, gathered);
        return true;
    });
}

CodedPiece code_piece(const OctreePiece& piece, const OctreeRules& rules, const CellMapper& cells,
                      const korvane::laz::LaszipRecord& record, std::size_t gps_at) {
    korvane::laz::ChunkEncoder encoder(record);
    const std::size_t length = encoder.record_length();
    CodedPiece coded;
    coded.gps_time = {std::numeric_limits<double>::infinity(),
                      -std::numeric_limits<double>::infinity()};
    each_piece_node(piece, rules, cells, length,
                    [&](const korvane::laz::VoxelKey& key, std::span<const std::byte> records) {
                        for (std::size_t at = gps_at; at < records.size(); at += length) {
                            const auto t = korvane::get_le<double>(records, at);
                            coded.gps_time[0] = std::min(coded.gps_time[0], t);
                            coded.gps_time[1] = std::max(coded.gps_time[1], t);
                        }
                        encoder.begin();
                        encoder.encode(records);
                        const std::span<const std::byte> chunk = encoder.finish();
                        coded.chunks.insert(coded.chunks.end(), chunk.begin(), chunk.end());
                        coded.nodes.push_back(
                            {key, encoder.points(), static_cast<std::uint32_t>(chunk.size())});
                    });
    return coded;
}

}  // namespace quillet
