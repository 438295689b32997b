#include "chunk_codec.hpp"

#include <algorithm>

namespace korvane::laz {
namespace {

// The coder of the record's compressor: point-wise chunks for formats 0-3, layered ones for 6-8.
std::variant<PointwiseChunkDecoder, LayeredChunkDecoder> decoder_for(const LaszipRecord& record) {
    if (record.compressor == kLayeredChunkedCompressor) return LayeredChunkDecoder(record.items);
    return PointwiseChunkDecoder(record.items);
}

std::variant<PointwiseChunkEncoder, LayeredChunkEncoder> encoder_for(const LaszipRecord& record) {
    if (record.compressor == kLayeredChunkedCompressor) return LayeredChunkEncoder(record.items);
    return PointwiseChunkEncoder(record.items);
}

}  // namespace

std::optional<LaszipItem> unsupported_item(const LaszipRecord& record) {
    if (record.compressor == kPointwiseChunkedCompressor)
        return pointwise_unsupported_item(record.items);
    if (record.compressor == kLayeredChunkedCompressor)
        return layered_unsupported_item(record.items);
    return record.items.empty() ? LaszipItem{} : record.items.front();
}

std::string item_name(std::uint16_t type) {
    switch (static_cast<ItemType>(type)) {
        case ItemType::Byte:
            return "BYTE";
        case ItemType::Point10:
            return "POINT10";
        case ItemType::GpsTime11:
            return "GPSTIME11";
        case ItemType::Rgb12:
            return "RGB12";
        case ItemType::Wavepacket13:
            return "WAVEPACKET13";
        case ItemType::Point14:
            return "POINT14";
        case ItemType::Rgb14:
            return "RGB14";
        case ItemType::RgbNir14:
            return "RGBNIR14";
        case ItemType::Wavepacket14:
            return "WAVEPACKET14";
        case ItemType::Byte14:
            return "BYTE14";
    }
    return "type " + std::to_string(type);
}

ChunkDecoder::ChunkDecoder(const LaszipRecord& record) : coder_(decoder_for(record)) {}

std::size_t ChunkDecoder::record_length() const {
    return std::visit([](const auto& c) { return c.record_length(); }, coder_);
}

bool ChunkDecoder::begin(std::span<const std::byte> chunk, std::uint32_t points) {
    return std::visit([&](auto& c) { return c.begin(chunk, points); }, coder_);
}

std::uint32_t ChunkDecoder::remaining() const {
    return std::visit([](const auto& c) { return c.remaining(); }, coder_);
}

std::optional<std::size_t> ChunkDecoder::decode(std::span<std::byte> out) {
    const std::size_t length = record_length();
    const std::size_t n = std::min({out.size() / length, std::size_t{remaining()},
                                    kMaxRecordsPerCall, kMaxBytesPerCall / length});
    const bool ok = std::visit([&](auto& c) { return c.decode(out.first(n * length)); }, coder_);
    if (!ok) return std::nullopt;
    return n;
}

ChunkEncoder::ChunkEncoder(const LaszipRecord& record) : coder_(encoder_for(record)) {}

std::size_t ChunkEncoder::record_length() const {
    return std::visit([](const auto& c) { return c.record_length(); }, coder_);
}

void ChunkEncoder::begin() {
    std::visit([](auto& c) { c.begin(); }, coder_);
}

void ChunkEncoder::encode(std::span<const std::byte> records) {
    std::visit([&](auto& c) { c.encode(records); }, coder_);
}

std::uint32_t ChunkEncoder::points() const {
    return std::visit([](const auto& c) { return c.points(); }, coder_);
}

std::span<const std::byte> ChunkEncoder::finish() {
    return std::visit([](auto& c) { return c.finish(); }, coder_);
}

}  // namespace korvane::laz
