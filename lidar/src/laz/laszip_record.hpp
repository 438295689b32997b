// The LASzip record: the variable length record (user id "laszip encoded", record id 22204) that
// tells how a LAZ file's points are compressed. Its payload: compressor, coder, LASzip version,
// options, chunk size, the special EVLR fields, and the items that make up a point record, each
// as (type, size, version). Parsed into data and built back from it; nothing here judges whether
// a merge can use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace korvane::laz {

inline constexpr std::string_view kLaszipUserId = "laszip encoded";
inline constexpr std::uint16_t kLaszipRecordId = 22204;

// The payload: 34 bytes, then 6 for each item.
namespace laszip_at {
inline constexpr std::size_t kCompressor = 0;          // u16
inline constexpr std::size_t kCoder = 2;               // u16
inline constexpr std::size_t kVersionMajor = 4;        // u8
inline constexpr std::size_t kVersionMinor = 5;        // u8
inline constexpr std::size_t kVersionRevision = 6;     // u16
inline constexpr std::size_t kOptions = 8;             // u32
inline constexpr std::size_t kChunkSize = 12;          // u32
inline constexpr std::size_t kSpecialEvlrCount = 16;   // i64
inline constexpr std::size_t kSpecialEvlrOffset = 24;  // i64
inline constexpr std::size_t kItemCount = 32;          // u16
inline constexpr std::size_t kItems = 34;              // N x (u16 type, u16 size, u16 version)
inline constexpr std::size_t kItemBytes = 6;
}  // namespace laszip_at

inline constexpr std::uint32_t kVariableChunkSize = 0xFFFFFFFF;

// LASzip compressors: 0 none; 1 point by point in one stream; 2 (point formats 0-5) and 3
// (formats 6-10) in chunks that decode on their own, 3 in layers.
inline constexpr std::uint16_t kNoCompressor = 0;
inline constexpr std::uint16_t kPointwiseCompressor = 1;
inline constexpr std::uint16_t kPointwiseChunkedCompressor = 2;
inline constexpr std::uint16_t kLayeredChunkedCompressor = 3;

// Item types, as LASzip numbers them.
enum class ItemType : std::uint16_t {
    Byte = 0,  // extra bytes of formats 0-5
    Point10 = 6,
    GpsTime11 = 7,
    Rgb12 = 8,
    Wavepacket13 = 9,
    Point14 = 10,
    Rgb14 = 11,
    RgbNir14 = 12,
    Wavepacket14 = 13,
    Byte14 = 14,  // extra bytes of formats 6-10
};

struct LaszipItem {
    std::uint16_t type = 0;
    std::uint16_t size = 0;
    std::uint16_t version = 0;
    bool operator==(const LaszipItem&) const = default;
};

struct LaszipRecord {
    std::uint16_t compressor = 0;
    std::uint16_t coder = 0;
    std::uint8_t version_major = 0;
    std::uint8_t version_minor = 0;
    std::uint16_t version_revision = 0;
    std::uint32_t options = 0;
    std::uint32_t chunk_size = 0;  // points per chunk, or kVariableChunkSize
    std::int64_t special_evlr_count = -1;
    std::int64_t special_evlr_offset = -1;
    std::vector<LaszipItem> items;

    bool variable_chunks() const { return chunk_size == kVariableChunkSize; }
    // Compressed in chunks (compressor 2 or 3) with the one coder (0) this library reads: the
    // point data opens with a chunk table offset and the chunks can be read and copied one by one.
    bool in_known_chunks() const {
        return (compressor == kPointwiseChunkedCompressor ||
                compressor == kLayeredChunkedCompressor) &&
               coder == 0;
    }
    // The bytes of the uncompressed record that the items make up.
    std::uint32_t record_length() const;
    bool operator==(const LaszipRecord&) const = default;
};

// The record in a payload; nothing when the payload is too short for its fixed fields or for
// the items it counts. Bytes after the items are ignored.
std::optional<LaszipRecord> parse_laszip_record(std::span<const std::byte> payload);

// The payload of a record: 34 + 6 x items bytes.
std::vector<std::byte> build_laszip_record(const LaszipRecord& record);

// A stored payload with the chunk size and the special EVLR fields set anew, every other byte
// (those after the items too) as it was. The payload must parse.
std::vector<std::byte> rewrite_laszip_record(std::span<const std::byte> payload,
                                             std::uint32_t chunk_size);

// The items that current writers use for a point format (0-3 or 6-8) with `extra_bytes` extra
// bytes: POINT10 v2, GPSTIME11 v2, RGB12 v2 and BYTE v2 for formats 0-3; POINT14 v3, RGB14 v3 or
// RGBNIR14 v3 and BYTE14 v3 for formats 6-8. Empty for other formats.
std::vector<LaszipItem> standard_items(std::uint8_t format, std::uint16_t extra_bytes);

// The record that Quillet writes for its own LAZ: compressor 2 for formats 0-3 and 3 for 6-8,
// the standard items, coder 0, options 0, version 3.4 r3 (as lazperf writes), no special EVLRs.
LaszipRecord standard_laszip_record(std::uint8_t format, std::uint16_t extra_bytes,
                                    std::uint32_t chunk_size);

}  // namespace korvane::laz
