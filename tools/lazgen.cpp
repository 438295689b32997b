// lazgen: builds a larger LAZ file from a chunked LAZ sample by repeating its chunks, for the
// benchmarks. The points stay as the sample's writer compressed them; nothing is decoded.
//
//   lazgen SAMPLE.laz OUTPUT.laz COPIES
//
// The output holds the sample's header and VLRs, its chunks COPIES times in a row and one chunk
// table listing every copy's chunks. Its point count and counts by return are the sample's times
// COPIES; its bounding box is the sample's, since the same points repeat.
//
// A sample with a variable chunk size stays variable. A sample with a fixed chunk size stays
// fixed when all its chunks are full. When its last chunk is partial, a fixed table cannot list
// the copies (only the last chunk of a file may be partial), so the output gets a variable chunk
// size: the LASzip VLR's chunk size becomes 0xFFFFFFFF and the table lists each chunk's point
// count. That keeps every point of the sample. Repeating only the full chunks would keep the
// fixed size, but the header's counts by return and box would then have to leave out points
// that only a decoder could describe.
//
// A LAS 1.4 sample's EVLRs (a cloud optimised file's index among them) are left out.
//
// Prints one line: the output's name, point count, number of chunks and kind of chunk size.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "las/public_header.hpp"
#include "las/variable_length_records.hpp"
#include "laz/chunk_table.hpp"
#include "laz/laszip_record.hpp"

namespace {

namespace header = korvane::header;
namespace laz = korvane::laz;
using Bytes = std::vector<std::byte>;

struct Failure {
    std::string message;
};

std::optional<Bytes> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    const std::vector<char> chars((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    const auto* first = reinterpret_cast<const std::byte*>(chars.data());
    return Bytes(first, first + chars.size());
}

// What the sample's header, LASzip VLR and chunk table say.
struct Sample {
    std::uint8_t minor = 0;
    std::uint32_t offset_to_data = 0;
    std::size_t chunk_size_at = 0;  // of the LASzip VLR's chunk size field, in the file
    bool variable = false;
    std::uint32_t chunk_size = 0;  // points in each chunk of a fixed table
    std::uint64_t points = 0;
    std::vector<korvane::LazChunk> chunks;  // point counts filled in for fixed tables too
    std::span<const std::byte> region;      // the chunks, back to back
};

template <typename T>
T get(std::span<const std::byte> file, std::size_t at) {
    return korvane::get_le<T>(file, at);
}

// Finds the LASzip VLR: sets the offset of its chunk size field and whether it is variable.
void read_laszip_vlr(std::span<const std::byte> file, std::uint16_t header_size,
                     std::uint32_t vlr_count, Sample& s) {
    std::uint64_t next = header_size;
    for (std::uint32_t k = 0; k < vlr_count; ++k) {
        if (next + korvane::kVlrHeaderBytes > s.offset_to_data)
            throw Failure{"its VLRs run past the point data"};
        const korvane::RecordHeader head =
            korvane::parse_vlr_header(file.subspan(next).first<korvane::kVlrHeaderBytes>());
        const std::uint64_t start = next + korvane::kVlrHeaderBytes;
        next = start + head.payload_length;
        if (next > s.offset_to_data) throw Failure{"its VLRs run past the point data"};
        if (head.user_id != laz::kLaszipUserId || head.record_id != laz::kLaszipRecordId) continue;
        const std::optional<laz::LaszipRecord> record =
            laz::parse_laszip_record(file.subspan(start, head.payload_length));
        if (!record) throw Failure{"its LASzip VLR is too short"};
        if (record->compressor != laz::kPointwiseChunkedCompressor &&
            record->compressor != laz::kLayeredChunkedCompressor)
            throw Failure{"its points are not compressed in chunks"};
        s.chunk_size_at = start + laz::laszip_at::kChunkSize;
        s.variable = record->variable_chunks();
        s.chunk_size = record->chunk_size;
        return;
    }
    throw Failure{"it has no LASzip VLR"};
}

Sample read_sample(std::span<const std::byte> file) {
    Sample s;
    if (file.size() < 227 || std::memcmp(file.data(), "LASF", 4) != 0)
        throw Failure{"not a LAS file"};
    s.minor = korvane::read_field(file, header::kVersionMinor);
    const std::uint16_t header_size = korvane::read_field(file, header::kHeaderSize);
    s.offset_to_data = korvane::read_field(file, header::kOffsetToData);
    if (s.minor > 4 || header_size < korvane::standard_header_size(s.minor) ||
        header_size > s.offset_to_data || s.offset_to_data + std::uint64_t{8} > file.size())
        throw Failure{"its header is not one this tool reads"};
    if ((korvane::read_field(file, header::kFormat) & korvane::kCompressedBits) == 0)
        throw Failure{"not a LAZ file"};
    s.points = s.minor == 4 ? korvane::read_field(file, header::kPointCount)
                            : korvane::read_field(file, header::kLegacyPointCount);
    read_laszip_vlr(file, header_size, korvane::read_field(file, header::kVlrCount), s);

    // The chunk table's offset, or -1 and the offset in the last 8 bytes of the file.
    auto table_at = get<std::int64_t>(file, s.offset_to_data);
    if (table_at == laz::kTableOffsetAtEnd) table_at = get<std::int64_t>(file, file.size() - 8);
    const std::uint64_t first_chunk = s.offset_to_data + std::uint64_t{laz::kTableOffsetBytes};
    if (table_at < static_cast<std::int64_t>(first_chunk) ||
        static_cast<std::uint64_t>(table_at) + laz::kChunkTableHeaderBytes > file.size())
        throw Failure{"its chunk table offset is out of place"};
    const auto table = static_cast<std::size_t>(table_at);
    s.region = file.subspan(first_chunk, table - first_chunk);
    const laz::ChunkTableHeader head =
        laz::parse_chunk_table_header(file.subspan(table).first<laz::kChunkTableHeaderBytes>());
    if (head.count > s.region.size()) throw Failure{"its chunk table lists more chunks than bytes"};
    const std::optional<korvane::DecodedChunkTable> decoded = korvane::decode_chunk_table(
        file.subspan(table + laz::kChunkTableHeaderBytes), head.count, s.variable);
    if (!decoded) throw Failure{"its chunk table is cut short"};
    s.chunks = decoded->chunks;

    if (!s.variable) {
        if (s.chunk_size == 0) throw Failure{"its chunk size is 0"};
        if (head.count != laz::fixed_chunk_count(s.points, s.chunk_size))
            throw Failure{"its fixed chunks do not hold the points of its header"};
        laz::set_fixed_chunk_points(s.chunks, s.points, s.chunk_size);
    }
    std::uint64_t bytes = 0;
    std::uint64_t points = 0;
    for (const korvane::LazChunk& c : s.chunks) {
        bytes += c.bytes;
        points += c.points;
    }
    if (points != s.points) throw Failure{"its chunks' point counts do not add up to its header's"};
    if (bytes != s.region.size())
        throw Failure{"its chunks' sizes do not add up to its point region"};
    return s;
}

// The header and VLRs of the output: the sample's, with the counts of `copies` copies and, when
// `variable`, a variable chunk size.
Bytes output_prefix(std::span<const std::byte> file, const Sample& s, std::uint32_t copies,
                    bool variable) {
    Bytes out(file.begin(), file.begin() + s.offset_to_data);
    const std::span<std::byte> o(out);
    if (variable) korvane::put_le<std::uint32_t>(o, s.chunk_size_at, laz::kVariableChunkSize);

    const std::uint64_t total = s.points * copies;
    const bool legacy_fits = total <= std::numeric_limits<std::uint32_t>::max();
    if (s.minor < 4 && !legacy_fits) throw Failure{"too many copies for a 32-bit point count"};
    // The 32-bit counts: multiplied when the sample fills them in and the total fits, else 0.
    const bool legacy =
        legacy_fits && get<std::uint32_t>(file, header::kLegacyPointCount.offset) != 0;
    korvane::put_le<std::uint32_t>(o, header::kLegacyPointCount.offset,
                                   legacy ? static_cast<std::uint32_t>(total) : 0);
    for (std::size_t r = 0; r < korvane::kLegacyReturns; ++r) {
        const std::size_t where = header::kLegacyPointsByReturn.offset + 4 * r;
        const std::uint64_t n = std::uint64_t{get<std::uint32_t>(file, where)} * copies;
        korvane::put_le<std::uint32_t>(o, where, legacy ? static_cast<std::uint32_t>(n) : 0);
    }
    if (s.minor == 4) {
        // The sample's EVLRs (a cloud optimised file's index among them) are not repeated.
        korvane::write_field<std::uint64_t>(o, header::kEvlrStart, 0);
        korvane::write_field<std::uint32_t>(o, header::kEvlrCount, 0);
        korvane::put_le<std::uint64_t>(o, header::kPointCount.offset, total);
        for (std::size_t r = 0; r < korvane::kExtendedReturns; ++r) {
            const std::size_t where = header::kPointsByReturn.offset + 8 * r;
            korvane::put_le<std::uint64_t>(o, where, get<std::uint64_t>(file, where) * copies);
        }
    }
    return out;
}

// What was written, for the summary line.
struct Written {
    std::uint64_t points = 0;
    std::size_t chunks = 0;
    bool variable = false;
};

Written write_output(const std::string& path, std::span<const std::byte> file, const Sample& s,
                     std::uint32_t copies) {
    // A partial last chunk would sit in the middle of the output: variable from here on.
    const bool variable =
        s.variable || (!s.chunks.empty() && s.chunks.back().points != s.chunk_size);
    if (std::uint64_t{s.chunks.size()} * copies > std::numeric_limits<std::uint32_t>::max())
        throw Failure{"too many copies for a 32-bit chunk count"};
    std::vector<korvane::LazChunk> chunks;
    chunks.reserve(s.chunks.size() * copies);
    for (std::uint32_t k = 0; k < copies; ++k)
        chunks.insert(chunks.end(), s.chunks.begin(), s.chunks.end());
    const Bytes table = laz::build_chunk_table(chunks, variable);

    const Bytes prefix = output_prefix(file, s, copies, variable);
    // At OffsetToData, before the chunks: where the table starts.
    Bytes table_offset(sizeof(std::uint64_t));
    korvane::put_le<std::uint64_t>(table_offset, 0,
                                   s.offset_to_data + 8 + std::uint64_t{s.region.size()} * copies);

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const auto put = [&out](std::span<const std::byte> bytes) {
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    };
    put(prefix);
    put(table_offset);
    for (std::uint32_t k = 0; k < copies; ++k) put(s.region);
    put(table);
    out.close();
    if (!out) throw Failure{"cannot write " + path};
    return {s.points * copies, chunks.size(), variable};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: lazgen SAMPLE.laz OUTPUT.laz COPIES\n");
        return 2;
    }
    const std::string sample = argv[1];
    const std::string output = argv[2];
    char* end = nullptr;
    const unsigned long copies = std::strtoul(argv[3], &end, 10);
    if (*end != '\0' || copies == 0 || copies > std::numeric_limits<std::uint32_t>::max()) {
        std::fprintf(stderr, "lazgen: COPIES must be a whole number from 1 to 4294967295\n");
        return 2;
    }
    const std::optional<Bytes> file = read_file(sample);
    if (!file) {
        std::fprintf(stderr, "lazgen: cannot read %s\n", sample.c_str());
        return 1;
    }
    try {
        const Sample s = read_sample(*file);
        const Written w = write_output(output, *file, s, static_cast<std::uint32_t>(copies));
        // One line for the benchmark scripts, which report the number of chunks.
        std::printf("%s: %llu points in %zu chunks, %s chunk size\n", output.c_str(),
                    static_cast<unsigned long long>(w.points), w.chunks,
                    w.variable ? "variable" : "fixed");
    } catch (const Failure& f) {
        std::fprintf(stderr, "lazgen: %s: %s\n", sample.c_str(), f.message.c_str());
        return 1;
    }
    return 0;
}
