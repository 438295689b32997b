// One listed input as the merge sees it: what a reader found in its header, records and point
// data, judged against the file's real size. The checks, the plan and the writer work from it;
// nothing in it says whether a merge accepts the file.
#pragma once

#include <Korvane_LiDAR.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "las/extra_bytes.hpp"
#include "las/point_formats.hpp"
#include "laz/chunk_table_coder.hpp"
#include "laz/laszip_record.hpp"

namespace quillet {

// A stretch of a file.
struct Region {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint64_t end() const { return offset + length; }
    bool operator==(const Region&) const = default;
};

// The most bytes of a coordinate system record that a description keeps (WKT runs to a few KiB).
inline constexpr std::uint64_t kKeptRecordBytes = 1 << 20;

// A variable length record (VLR) or an extended one (EVLR).
struct RecordInfo {
    std::string user_id;
    std::uint16_t record_id = 0;
    Region whole;    // its record header and payload
    Region payload;  // the payload alone
    // The digest of the payload of a record the checks compare (Extra Bytes, coordinate
    // systems); 0 for the others.
    std::uint64_t digest = 0;
    // The payload of a GeoTIFF key directory or WKT record of at most kKeptRecordBytes, which
    // the merge reads as a coordinate system; empty for the others.
    std::vector<std::byte> kept{};
    bool operator==(const RecordInfo&) const = default;
};

// What the LASzip record of a LAZ input says.
struct LaszipInfo {
    std::vector<std::byte> payload;  // as stored
    korvane::laz::LaszipRecord record;
    std::size_t vlr = 0;  // its place among the input's VLRs
    bool operator==(const LaszipInfo&) const = default;
};

// Which reader made a description: the classic one reads the 227-byte header of LAS 1.0-1.2,
// the extended one every version's header, its records and LAZ chunk tables.
enum class ReaderKind { Classic, Extended };

struct InputDescription {
    std::string name;  // as listed
    ReaderKind reader = ReaderKind::Extended;
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
    // The digest of every byte from the end of the header block to the point data: the records
    // and whatever lies between and after them. Only when `records_digested`: the classic
    // reader digests them only for the file whose records go into the merge.
    std::uint64_t vlr_bytes_digest = 0;
    bool records_digested = false;
    std::vector<RecordInfo> evlrs;
    // LAS: the point records. LAZ: the compressed chunks, back to back.
    Region points;
    std::optional<LaszipInfo> laszip;
    std::vector<korvane::LazChunk> chunks;  // LAZ: every chunk, in file order
    Region chunk_table;                     // LAZ: the table's header and coded entries
    // The fields that its Extra Bytes record describes, in record order, when it has one that
    // reads; empty otherwise.
    std::vector<korvane::ExtraBytesField> extra_fields;
    // It has an Extra Bytes record that does not parse or describes more bytes than its records
    // hold: its extra bytes are then undescribed.
    bool extra_record_unreadable = false;

    // The bytes of each record after its format's own fields.
    std::uint16_t extra_bytes() const {
        const std::uint16_t base = korvane::base_record_length(format);
        return record_length > base ? static_cast<std::uint16_t>(record_length - base) : 0;
    }
    // Whether the Extra Bytes record describes every one of those bytes (so the fields can be
    // moved by name), or there are none.
    bool extra_bytes_described() const {
        return !extra_record_unreadable && korvane::extra_bytes_size(extra_fields) == extra_bytes();
    }

    // The bytes a copy of the point region moves as one unit: a record of LAS, any byte of LAZ.
    std::uint16_t copy_unit() const { return compressed ? 1 : record_length; }
};

// How a description made again at copy time differs from the one that was checked.
enum class Change {
    None,        // everything the checks, the merged header and the plan read is as it was
    PointCount,  // only the point counts: the merged header no longer adds up
    Other,       // anything else in the header, the records or the chunk table
};
Change change_between(const InputDescription& checked, const InputDescription& now);

}  // namespace quillet
