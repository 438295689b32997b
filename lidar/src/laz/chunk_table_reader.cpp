#include "laz/chunk_table_reader.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <limits>
#include <optional>

#include "las/byte_order.hpp"
#include "laz/chunk_table.hpp"

namespace korvane::laz {
namespace {

namespace fault = chunk_table_fault;

// `a + b`, or the largest offset when the sum does not fit: an end that no file reaches.
std::uint64_t end_of(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    return b > most - a ? most : a + b;
}

// Fills `into` from `offset`; the fault when the read fails or comes back short.
std::optional<ChunkTableFault> read_whole(const ReadAt& read, std::span<std::byte> into,
                                          std::uint64_t offset) {
    const ReadOutcome got = read(into, offset);
    if (!got.failed && got.bytes == into.size()) return std::nullopt;
    return fault::ReadFailed{offset, into.size(), got};
}

// The offset of the table: the i64 at the start of the point data, or, when that is
// kTableOffsetAtEnd, the one in the file's last 8 bytes (a writer that could not seek back).
std::variant<std::int64_t, ChunkTableFault> read_table_offset(const ReadAt& read,
                                                              const ChunkTableInput& where) {
    const std::uint64_t start = where.points_start;
    const std::uint64_t size = where.file_size;
    if (start > size || size - start < kTableOffsetBytes)
        return fault::TooShort{end_of(start, kTableOffsetBytes)};
    std::array<std::byte, kTableOffsetBytes> field;
    if (auto failed = read_whole(read, field, start)) return *failed;
    const auto offset = get_le<std::int64_t>(field, 0);
    if (offset != kTableOffsetAtEnd) return offset;
    if (size - start < 2 * kTableOffsetBytes)
        return fault::TooShort{end_of(start, 2 * kTableOffsetBytes)};
    if (auto failed = read_whole(read, field, size - kTableOffsetBytes)) return *failed;
    return get_le<std::int64_t>(field, 0);
}

}  // namespace

ChunkTableReading read_chunk_table(const ReadAt& read, const ChunkTableInput& where,
                                   const LaszipRecord& record) {
    const std::uint64_t start = where.points_start;
    const std::uint64_t size = where.file_size;
    std::variant<std::int64_t, ChunkTableFault> offset = read_table_offset(read, where);
    if (auto* f = std::get_if<ChunkTableFault>(&offset)) return std::move(*f);
    const std::int64_t table = std::get<std::int64_t>(offset);
    if (table == static_cast<std::int64_t>(start)) return fault::NoTable{};
    // The file holds the offset field (start + 8 <= size), so neither sum nor difference wraps.
    const auto table_at = static_cast<std::uint64_t>(table);
    const std::uint64_t first_chunk = start + kTableOffsetBytes;
    if (table < 0 || table_at < first_chunk || table_at > size - kChunkTableHeaderBytes)
        return fault::OffsetOutside{table};
    FoundChunkTable found;
    found.chunks = {first_chunk, table_at - first_chunk};

    std::array<std::byte, kChunkTableHeaderBytes> head;
    if (auto failed = read_whole(read, head, table_at)) return *failed;
    const ChunkTableHeader header = parse_chunk_table_header(head);
    if (header.version != kChunkTableVersion) return fault::UnknownVersion{header.version};
    // Every chunk takes at least one byte, so the chunks' region bounds the count before any
    // memory is reserved for the entries.
    if (header.count > found.chunks.length)
        return fault::TooManyChunks{header.count, found.chunks.length};
    const bool variable = record.variable_chunks();
    const std::uint64_t coded_at = table_at + head.size();
    const std::uint64_t coded_length = std::min<std::uint64_t>(
        size - coded_at, max_coded_chunk_table_bytes(header.count, variable));
    std::vector<std::byte> coded(static_cast<std::size_t>(coded_length));
    if (auto failed = read_whole(read, coded, coded_at)) return *failed;
    std::optional<DecodedChunkTable> decoded = decode_chunk_table(coded, header.count, variable);
    if (!decoded) return fault::Truncated{};
    found.entries = std::move(decoded->chunks);
    found.table = {table_at, head.size() + decoded->consumed};

    if (!variable) {
        assert(record.chunk_size != 0);
        const std::uint64_t needed = fixed_chunk_count(where.point_count, record.chunk_size);
        if (header.count != needed)
            return fault::WrongFixedCount{header.count, where.point_count, record.chunk_size,
                                          needed};
        set_fixed_chunk_points(found.entries, where.point_count, record.chunk_size);
    }
    std::uint64_t points = 0, bytes = 0;
    for (const LazChunk& c : found.entries) {
        points += c.points;
        bytes += c.bytes;
    }
    if (points != where.point_count) return fault::PointsDiffer{points};
    if (bytes != found.chunks.length) return fault::BytesDiffer{bytes, found.chunks.length};
    return found;
}

}  // namespace korvane::laz
