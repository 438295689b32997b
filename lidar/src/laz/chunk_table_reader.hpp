// The chunk table of a chunked LAZ file, read from the file and judged against its real size.
// The point data opens with the i64 offset of the table (or -1: the offset is in the file's last
// 8 bytes); the chunks follow back to back up to the table; the table's header and coded entries
// list every chunk (chunk_table.hpp). Every offset and count read from the file is checked
// against the file's size, in 64-bit arithmetic, before anything is sought or reserved with it.
// What is wrong comes back as data; the caller words it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <variant>
#include <vector>

#include "laz/chunk_table_coder.hpp"
#include "laz/laszip_record.hpp"

namespace korvane::laz {

// What one read at an offset of the file did.
struct ReadOutcome {
    std::size_t bytes = 0;  // the bytes read: fewer than asked only where the file ends
    bool failed = false;    // the read failed, with errno `error`
    int error = 0;
    bool operator==(const ReadOutcome&) const = default;
};

// Fills `into` from the file at `offset`, as far as the file goes.
using ReadAt = std::function<ReadOutcome(std::span<std::byte> into, std::uint64_t offset)>;

// A stretch of the file.
struct FileRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint64_t end() const { return offset + length; }
    bool operator==(const FileRange&) const = default;
};

// Where the file's point data lies, and what it is.
struct ChunkTableInput {
    std::uint64_t points_start = 0;  // the offset of the point data: its table offset field
    std::uint64_t file_size = 0;     // the file's real size
    std::uint64_t point_count = 0;   // what the header states
};

struct FoundChunkTable {
    FileRange chunks;               // the chunks, back to back, after the table offset field
    std::vector<LazChunk> entries;  // every chunk in file order, fixed tables' counts set
    FileRange table;                // the table's header and the coded bytes its decoder read
    bool operator==(const FoundChunkTable&) const = default;
};

// What can be wrong, each with the numbers that say how.
namespace chunk_table_fault {
// The file ends before the table offset field, which ends at `end`.
struct TooShort {
    std::uint64_t end = 0;
    bool operator==(const TooShort&) const = default;
};
// The offset names the point data itself: the writer stopped before it wrote the table.
struct NoTable {
    bool operator==(const NoTable&) const = default;
};
// The offset is negative, inside the offset field, or leaves no room for the table header.
struct OffsetOutside {
    std::int64_t offset = 0;
    bool operator==(const OffsetOutside&) const = default;
};
struct UnknownVersion {
    std::uint32_t version = 0;
    bool operator==(const UnknownVersion&) const = default;
};
// More chunks than the `bytes` between the offset field and the table can hold (each takes at
// least one byte).
struct TooManyChunks {
    std::uint32_t count = 0;
    std::uint64_t bytes = 0;
    bool operator==(const TooManyChunks&) const = default;
};
// The file ends before the coded entries do.
struct Truncated {
    bool operator==(const Truncated&) const = default;
};
// A fixed table whose chunk count is not what `points` in chunks of `chunk_size` need.
struct WrongFixedCount {
    std::uint32_t count = 0;
    std::uint64_t points = 0;
    std::uint32_t chunk_size = 0;
    std::uint64_t needed = 0;
    bool operator==(const WrongFixedCount&) const = default;
};
// The chunks hold `points` points, not the header's count.
struct PointsDiffer {
    std::uint64_t points = 0;
    bool operator==(const PointsDiffer&) const = default;
};
// The chunks fill `bytes` bytes, not the `region` between the offset field and the table.
struct BytesDiffer {
    std::uint64_t bytes = 0;
    std::uint64_t region = 0;
    bool operator==(const BytesDiffer&) const = default;
};
// A read of `length` bytes at `offset`, which the file's size says are there, failed or came
// back short.
struct ReadFailed {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    ReadOutcome outcome;
    bool operator==(const ReadFailed&) const = default;
};
}  // namespace chunk_table_fault

using ChunkTableFault =
    std::variant<chunk_table_fault::TooShort, chunk_table_fault::NoTable,
                 chunk_table_fault::OffsetOutside, chunk_table_fault::UnknownVersion,
                 chunk_table_fault::TooManyChunks, chunk_table_fault::Truncated,
                 chunk_table_fault::WrongFixedCount, chunk_table_fault::PointsDiffer,
                 chunk_table_fault::BytesDiffer, chunk_table_fault::ReadFailed>;

using ChunkTableReading = std::variant<FoundChunkTable, ChunkTableFault>;

// Reads and checks the chunk table of a file whose LASzip record is in_known_chunks(), with
// `read` as the only access to the file: the table offset, the table header, the coded entries
// (at most as many bytes as a table of that count can need), then the sums of the entries
// against the header's point count and the bytes up to the table. The first fault found ends it.
// The record's chunk size is not 0 (a chunk of no points; the caller refuses such a record).
ChunkTableReading read_chunk_table(const ReadAt& read, const ChunkTableInput& where,
                                   const LaszipRecord& record);

}  // namespace korvane::laz
