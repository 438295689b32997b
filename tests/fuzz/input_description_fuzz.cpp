// The extended reader and the chunk-table decoder on arbitrary bytes. The input is written to a
// file and described: a file that is accepted must be described within its own bytes (records,
// points, chunk table and EVLRs inside the file, chunks adding up to the header's count and to
// the bytes before the table); one that is refused gets one message naming it. The same bytes,
// decoded as a chunk table, must encode back to a table that decodes to the same entries.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <numeric>
#include <span>
#include <string>

#include "laz/chunk_table_coder.hpp"
#include "file_system.hpp"
#include "fuzz_support.hpp"
#include "input_description.hpp"
#include "las_extended_layout.hpp"

namespace {

void check_description(const quillet::InputDescription& d, const std::string& note) {
    const std::uint64_t size = d.file_size;
    FUZZ_CHECK(d.record_length >= korvane::base_record_length(d.format), note);
    FUZZ_CHECK(d.header.size() == d.base.HeaderSize && d.base.HeaderSize <= d.base.OffsetToData,
               note);
    FUZZ_CHECK(d.points.end() <= size && d.points.end() >= d.points.offset, note);
    for (const quillet::RecordInfo& r : d.vlrs)
        FUZZ_CHECK(r.whole.offset >= d.base.HeaderSize && r.whole.end() <= d.base.OffsetToData,
                   note);
    std::uint64_t data_end = d.points.end();
    if (d.compressed) {
        FUZZ_CHECK(d.laszip.has_value(), note);
        FUZZ_CHECK(d.points.offset == std::uint64_t{d.base.OffsetToData} + 8, note);
        FUZZ_CHECK(d.chunk_table.offset == d.points.end() && d.chunk_table.end() <= size, note);
        std::uint64_t points = 0, bytes = 0;
        for (const korvane::LazChunk& c : d.chunks) points += c.points, bytes += c.bytes;
        FUZZ_CHECK(points == d.point_count && bytes == d.points.length, note);
        data_end = d.chunk_table.end();
    } else {
        FUZZ_CHECK(d.points.length == d.point_count * d.record_length, note);
    }
    for (const quillet::RecordInfo& r : d.evlrs)
        FUZZ_CHECK(r.whole.offset >= data_end && r.whole.end() <= size, note);
}

void check_chunk_table(std::span<const std::byte> data) {
    if (data.size() < 2) return;
    // The first two bytes choose the kind of table and how many entries to decode.
    const bool variable = (std::to_integer<unsigned>(data[0]) & 1) != 0;
    const std::uint32_t count = std::to_integer<std::uint32_t>(data[1]) * 3;
    const std::optional<korvane::DecodedChunkTable> decoded =
        korvane::decode_chunk_table(data.subspan(2), count, variable);
    if (!decoded) return;
    FUZZ_CHECK(decoded->chunks.size() == count && decoded->consumed <= data.size() - 2, "decode");
    const std::vector<std::byte> coded = korvane::encode_chunk_table(decoded->chunks, variable);
    FUZZ_CHECK(coded.size() <= korvane::max_coded_chunk_table_bytes(count, variable), "bound");
    const std::optional<korvane::DecodedChunkTable> again =
        korvane::decode_chunk_table(coded, count, variable);
    FUZZ_CHECK(again && again->consumed == coded.size(), "round trip consumed");
    if (variable) {
        FUZZ_CHECK(again->chunks == decoded->chunks, "round trip");
    } else {
        for (std::size_t i = 0; i < count; ++i)
            FUZZ_CHECK(again->chunks[i].bytes == decoded->chunks[i].bytes, "round trip");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    const std::string path = fuzzing::scratch_dir() + "/input.laz";
    fuzzing::write_file(path, bytes);
    korvane::FileSystem& fs = korvane::system_files();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0, path);
    fuzzing::Captured out;
    const std::optional<quillet::InputDescription> d =
        quillet::describe_extended(fd, path, out.file(), fs);
    ::close(fd);
    const std::string text = out.text();
    if (d) {
        FUZZ_CHECK(text.empty(), text);
        FUZZ_CHECK(d->file_size == size, "size");
        check_description(*d, "accepted file");
    } else {
        // One message, on its own line after an empty one, naming the file.
        FUZZ_CHECK(text.size() > 2 && text.front() == '\n' && text.back() == '\n', text);
        FUZZ_CHECK(text.find('\n', 1) == text.size() - 1, text);
        FUZZ_CHECK(text.find(path) != std::string::npos, text);
    }
    check_chunk_table(bytes);
    return 0;
}
