// The record headers of variable length records (VLRs, between the header and the point data)
// and extended ones (EVLRs, after the point data of LAS 1.3 and 1.4), and the records a merge
// looks for by user id and record id. Only positions and byte moves; the walk over a file's
// records, which judges them against its size, is the reader's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

// A VLR header: u16 reserved, char[16] user id, u16 record id, u16 payload length, char[32]
// description. An EVLR header is the same with a u64 payload length, 60 bytes.
inline constexpr std::size_t kVlrHeaderBytes = 54;
inline constexpr std::size_t kEvlrHeaderBytes = 60;

namespace record_at {
inline constexpr std::size_t kUserId = 2;
inline constexpr std::size_t kUserIdBytes = 16;
inline constexpr std::size_t kRecordId = 18;
inline constexpr std::size_t kLength = 20;  // u16 in a VLR, u64 in an EVLR
}  // namespace record_at

// What a record header says.
struct RecordHeader {
    std::string user_id;  // its 16 bytes up to the first zero byte
    std::uint16_t record_id = 0;
    std::uint64_t payload_length = 0;
};

// Reads a VLR header from its kVlrHeaderBytes bytes, or an EVLR header from its
// kEvlrHeaderBytes.
RecordHeader parse_vlr_header(std::span<const std::byte, kVlrHeaderBytes> bytes);
RecordHeader parse_evlr_header(std::span<const std::byte, kEvlrHeaderBytes> bytes);

// The header of a VLR with these fields (user id and description cut to their 16 and 32 bytes).
std::array<std::byte, kVlrHeaderBytes> build_vlr_header(std::string_view user_id,
                                                        std::uint16_t record_id,
                                                        std::uint16_t payload_length,
                                                        std::string_view description);

// The header of an EVLR with these fields.
std::array<std::byte, kEvlrHeaderBytes> build_evlr_header(std::string_view user_id,
                                                          std::uint16_t record_id,
                                                          std::uint64_t payload_length,
                                                          std::string_view description);

// Records the merge looks for.
inline constexpr std::string_view kSpecUserId = "LASF_Spec";
inline constexpr std::uint16_t kExtraBytesRecordId = 4;
inline constexpr std::string_view kProjectionUserId = "LASF_Projection";
inline constexpr std::string_view kCopcUserId = "copc";

// The Extra Bytes record, which describes the bytes of each record after its format's own.
bool is_extra_bytes_record(std::string_view user_id, std::uint16_t record_id);
// Coordinate reference system records: the GeoTIFF keys and their parameters, and OGC WKT.
bool is_crs_record(std::string_view user_id, std::uint16_t record_id);
// The records of cloud optimised LAZ, which index the chunks of their own file.
bool is_copc_record(std::string_view user_id);

}  // namespace korvane
