// The raw layer of LAS 1.3 and 1.4 files and of LAZ: where the fields beyond the 227-byte
// header lie, the record headers of variable length records (VLRs) and extended ones (EVLRs),
// and the LASzip record. Only offsets, sizes and little-endian byte moves; nothing is judged.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "las/byte_order.hpp"

namespace korvane {

// Fields of the public header block, as offsets from the start of the file.
namespace header_at {
inline constexpr std::size_t kGlobalEncoding = 6;
inline constexpr std::size_t kVersionMajor = 24;
inline constexpr std::size_t kVersionMinor = 25;
inline constexpr std::size_t kHeaderSize = 94;
inline constexpr std::size_t kOffsetToData = 96;
inline constexpr std::size_t kVlrCount = 100;
inline constexpr std::size_t kFormat = 104;
inline constexpr std::size_t kRecordLength = 105;
inline constexpr std::size_t kLegacyPointCount = 107;
inline constexpr std::size_t kLegacyPointsByReturn = 111;  // 5 x u32
inline constexpr std::size_t kScale = 131;                 // X, Y, Z: 3 x f64
inline constexpr std::size_t kOffset = 155;                // X, Y, Z: 3 x f64
inline constexpr std::size_t kBox = 179;                   // MaxX MinX MaxY MinY MaxZ MinZ
// LAS 1.3 and 1.4
inline constexpr std::size_t kWaveformStart = 227;  // u64
// LAS 1.4
inline constexpr std::size_t kEvlrStart = 235;       // u64
inline constexpr std::size_t kEvlrCount = 243;       // u32
inline constexpr std::size_t kPointCount = 247;      // u64
inline constexpr std::size_t kPointsByReturn = 255;  // 15 x u64
}  // namespace header_at

// The size of the standard public header block of LAS 1.minor.
constexpr std::uint16_t standard_header_size(std::uint8_t minor) {
    return minor <= 2 ? 227 : minor == 3 ? 235 : 375;
}

inline constexpr std::size_t kLegacyReturns = 5;
inline constexpr std::size_t kExtendedReturns = 15;

// Global encoding bit 0: GPS times are adjusted standard time (set) or GPS week time.
inline constexpr std::uint16_t kGpsTimeIsStandard = 1;

// The point data format byte: bit 7 (bit 6 for some old writers) marks LASzip compression, the
// low six bits are the format.
inline constexpr std::uint8_t kCompressedBits = 0xC0;
inline constexpr std::uint8_t kFormatBits = 0x3F;

// The record length of point formats 0 to 10 without extra bytes; 0 for other formats.
constexpr std::uint16_t base_record_length(std::uint8_t format) {
    constexpr std::array<std::uint16_t, 11> kLengths = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
    return format < kLengths.size() ? kLengths[format] : 0;
}

// Formats 4, 5, 9 and 10 carry waveform packets that point into the file's own waveform data.
constexpr bool has_waveform_packets(std::uint8_t format) {
    return format == 4 || format == 5 || format == 9 || format == 10;
}

// A variable length record header: u16 reserved, char[16] user id, u16 record id, u16 payload
// length, char[32] description. An extended one has a u64 payload length and is 60 bytes.
inline constexpr std::size_t kVlrHeaderBytes = 54;
inline constexpr std::size_t kEvlrHeaderBytes = 60;
namespace vlr_at {
inline constexpr std::size_t kUserId = 2;
inline constexpr std::size_t kUserIdBytes = 16;
inline constexpr std::size_t kRecordId = 18;
inline constexpr std::size_t kLength = 20;  // u16 in a VLR, u64 in an EVLR
}  // namespace vlr_at

// The user id of a record header: its 16 bytes up to the first zero byte.
inline std::string_view record_user_id(std::span<const std::byte> record_header) {
    const char* text = reinterpret_cast<const char*>(record_header.data() + vlr_at::kUserId);
    std::size_t n = 0;
    while (n < vlr_at::kUserIdBytes && text[n] != '\0') ++n;
    return {text, n};
}

// Records the merge looks for, by user id and record id.
inline constexpr std::string_view kLaszipUserId = "laszip encoded";
inline constexpr std::uint16_t kLaszipRecordId = 22204;
inline constexpr std::string_view kSpecUserId = "LASF_Spec";
inline constexpr std::uint16_t kExtraBytesRecordId = 4;
inline constexpr std::string_view kProjectionUserId = "LASF_Projection";
inline constexpr std::string_view kCopcUserId = "copc";

// Coordinate reference system records: the GeoTIFF keys and their parameters, and OGC WKT.
constexpr bool is_crs_record(std::uint16_t record_id) {
    return record_id == 34735 || record_id == 34736 || record_id == 34737 || record_id == 2112;
}

// The LASzip record's payload: 34 bytes, then 6 bytes for each item.
namespace laszip_at {
inline constexpr std::size_t kCompressor = 0;          // u16
inline constexpr std::size_t kCoder = 2;               // u16
inline constexpr std::size_t kVersion = 4;             // u8 major, u8 minor, u16 revision
inline constexpr std::size_t kOptions = 8;             // u32
inline constexpr std::size_t kChunkSize = 12;          // u32
inline constexpr std::size_t kSpecialEvlrCount = 16;   // i64
inline constexpr std::size_t kSpecialEvlrOffset = 24;  // i64
inline constexpr std::size_t kItemCount = 32;          // u16
inline constexpr std::size_t kItems = 34;              // N x (u16 type, u16 size, u16 version)
inline constexpr std::size_t kItemBytes = 6;
}  // namespace laszip_at

inline constexpr std::uint32_t kVariableChunkSize = 0xFFFFFFFF;

// LASzip compressors: 1 compresses point by point in one stream; 2 (formats 0-5) and 3
// (formats 6-10) compress in chunks that decode on their own.
inline constexpr std::uint16_t kPointwiseCompressor = 1;
inline constexpr std::uint16_t kPointwiseChunkedCompressor = 2;
inline constexpr std::uint16_t kLayeredChunkedCompressor = 3;

// The chunk table: u32 version (0), u32 number of chunks, then the coded entries.
inline constexpr std::size_t kChunkTableHeaderBytes = 8;

}  // namespace korvane
