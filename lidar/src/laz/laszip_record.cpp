#include "laszip_record.hpp"

#include "las/byte_order.hpp"

namespace korvane::laz {

namespace at = laszip_at;

std::uint32_t LaszipRecord::record_length() const {
    std::uint32_t length = 0;
    for (const LaszipItem& item : items) length += item.size;
    return length;
}

std::optional<LaszipRecord> parse_laszip_record(std::span<const std::byte> payload) {
    if (payload.size() < at::kItems) return std::nullopt;
    LaszipRecord r;
    r.compressor = get_le<std::uint16_t>(payload, at::kCompressor);
    r.coder = get_le<std::uint16_t>(payload, at::kCoder);
    r.version_major = get_le<std::uint8_t>(payload, at::kVersionMajor);
    r.version_minor = get_le<std::uint8_t>(payload, at::kVersionMinor);
    r.version_revision = get_le<std::uint16_t>(payload, at::kVersionRevision);
    r.options = get_le<std::uint32_t>(payload, at::kOptions);
    r.chunk_size = get_le<std::uint32_t>(payload, at::kChunkSize);
    r.special_evlr_count = get_le<std::int64_t>(payload, at::kSpecialEvlrCount);
    r.special_evlr_offset = get_le<std::int64_t>(payload, at::kSpecialEvlrOffset);
    const std::size_t n = get_le<std::uint16_t>(payload, at::kItemCount);
    if (payload.size() < at::kItems + n * at::kItemBytes) return std::nullopt;
    r.items.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t item_at = at::kItems + i * at::kItemBytes;
        r.items[i] = {get_le<std::uint16_t>(payload, item_at),
                      get_le<std::uint16_t>(payload, item_at + 2),
                      get_le<std::uint16_t>(payload, item_at + 4)};
    }
    return r;
}

std::vector<std::byte> build_laszip_record(const LaszipRecord& r) {
    std::vector<std::byte> payload(at::kItems + r.items.size() * at::kItemBytes);
    put_le<std::uint16_t>(payload, at::kCompressor, r.compressor);
    put_le<std::uint16_t>(payload, at::kCoder, r.coder);
    put_le<std::uint8_t>(payload, at::kVersionMajor, r.version_major);
    put_le<std::uint8_t>(payload, at::kVersionMinor, r.version_minor);
    put_le<std::uint16_t>(payload, at::kVersionRevision, r.version_revision);
    put_le<std::uint32_t>(payload, at::kOptions, r.options);
    put_le<std::uint32_t>(payload, at::kChunkSize, r.chunk_size);
    put_le<std::int64_t>(payload, at::kSpecialEvlrCount, r.special_evlr_count);
    put_le<std::int64_t>(payload, at::kSpecialEvlrOffset, r.special_evlr_offset);
    put_le<std::uint16_t>(payload, at::kItemCount, static_cast<std::uint16_t>(r.items.size()));
    for (std::size_t i = 0; i < r.items.size(); ++i) {
        const std::size_t item_at = at::kItems + i * at::kItemBytes;
        put_le<std::uint16_t>(payload, item_at, r.items[i].type);
        put_le<std::uint16_t>(payload, item_at + 2, r.items[i].size);
        put_le<std::uint16_t>(payload, item_at + 4, r.items[i].version);
    }
    return payload;
}

std::vector<std::byte> rewrite_laszip_record(std::span<const std::byte> payload,
                                             std::uint32_t chunk_size) {
    std::vector<std::byte> out(payload.begin(), payload.end());
    put_le<std::uint32_t>(out, at::kChunkSize, chunk_size);
    put_le<std::int64_t>(out, at::kSpecialEvlrCount, -1);
    put_le<std::int64_t>(out, at::kSpecialEvlrOffset, -1);
    return out;
}

std::vector<LaszipItem> standard_items(std::uint8_t format, std::uint16_t extra_bytes) {
    auto item = [](ItemType type, std::uint16_t size, std::uint16_t version) {
        return LaszipItem{static_cast<std::uint16_t>(type), size, version};
    };
    std::vector<LaszipItem> items;
    if (format <= 3) {
        items.push_back(item(ItemType::Point10, 20, 2));
        if (format == 1 || format == 3) items.push_back(item(ItemType::GpsTime11, 8, 2));
        if (format == 2 || format == 3) items.push_back(item(ItemType::Rgb12, 6, 2));
        if (extra_bytes != 0) items.push_back(item(ItemType::Byte, extra_bytes, 2));
    } else if (format >= 6 && format <= 8) {
        items.push_back(item(ItemType::Point14, 30, 3));
        if (format == 7) items.push_back(item(ItemType::Rgb14, 6, 3));
        if (format == 8) items.push_back(item(ItemType::RgbNir14, 8, 3));
        if (extra_bytes != 0) items.push_back(item(ItemType::Byte14, extra_bytes, 3));
    }
    return items;
}

LaszipRecord standard_laszip_record(std::uint8_t format, std::uint16_t extra_bytes,
                                    std::uint32_t chunk_size) {
    LaszipRecord r;
    r.compressor = format <= 3 ? kPointwiseChunkedCompressor : kLayeredChunkedCompressor;
    r.coder = 0;
    r.version_major = 3;
    r.version_minor = 4;
    r.version_revision = 3;
    r.options = 0;
    r.chunk_size = chunk_size;
    r.items = standard_items(format, extra_bytes);
    return r;
}

}  // namespace korvane::laz
