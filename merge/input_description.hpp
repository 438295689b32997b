// One listed input as the merge sees it. A reader makes it once, judging the header against the
// file's real size; the checks, the merged header and the writer all work from it.
#pragma once

#include <Korvane_LiDAR.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "laz/chunk_table_coder.hpp"
#include "file_system.hpp"

namespace quillet {

// A stretch of a file.
struct Region {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint64_t end() const { return offset + length; }
    bool operator==(const Region&) const = default;
};

// A variable length record (VLR) or an extended one (EVLR).
struct RecordInfo {
    std::string user_id;
    std::uint16_t record_id = 0;
    Region whole;    // its record header and payload
    Region payload;  // the payload alone
    bool operator==(const RecordInfo&) const = default;
};

// What the LASzip record of a LAZ input says.
struct LaszipInfo {
    std::vector<std::byte> payload;  // as stored
    std::size_t vlr = 0;             // its place among the input's VLRs
    std::uint16_t compressor = 0;
    std::uint16_t coder = 0;
    std::uint32_t options = 0;
    std::uint32_t chunk_size = 0;  // points per chunk, or kVariableChunkSize
    bool variable_chunks() const;
};

struct InputDescription {
    std::uint64_t file_size = 0;
    LAS12Header base{};             // the first 227 bytes
    std::vector<std::byte> header;  // the whole header block, extra bytes included
    std::uint8_t minor = 0;         // LAS 1.minor
    std::uint8_t format = 0;        // the point format, compression bits removed
    std::uint16_t record_length = 0;
    bool compressed = false;
    std::uint64_t point_count = 0;                     // the 64-bit count of LAS 1.4
    std::array<std::uint64_t, 15> points_by_return{};  // 5 used before LAS 1.4
    std::vector<RecordInfo> vlrs;
    std::vector<RecordInfo> evlrs;
    // LAS: the point records. LAZ: the compressed chunks, back to back.
    Region points;
    std::optional<LaszipInfo> laszip;
    std::vector<korvane::LazChunk> chunks;  // LAZ: every chunk, in file order
    Region chunk_table;                     // LAZ: the table's header and coded entries

    // The bytes a copy of the point region moves as one unit: a record of LAS, any byte of LAZ.
    std::uint16_t copy_unit() const { return compressed ? 1 : record_length; }
};

// Reads an input's description: the classic one, from its 227-byte header alone, or the
// extended one, which also walks its VLRs, chunk table and EVLRs. Nothing, after one message
// naming the file, when the file is not what it must be.
using DescribeInput = std::optional<InputDescription> (*)(int fd, const std::string& name,
                                                          std::FILE* out, korvane::FileSystem& fs);

std::optional<InputDescription> describe_classic(int fd, const std::string& name, std::FILE* out,
                                                 korvane::FileSystem& fs);
std::optional<InputDescription> describe_extended(int fd, const std::string& name, std::FILE* out,
                                                  korvane::FileSystem& fs);

// Whether a description made again at copy time still shows the input that was checked: the
// same record length, compression, chunks and records. Point counts may differ (the copy then
// notices that the merge no longer adds up).
bool same_layout(const InputDescription& checked, const InputDescription& now);

}  // namespace quillet
