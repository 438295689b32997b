// The extended reader and the chunk-table decoder on arbitrary bytes. The input is described as a
// file held in memory, through the file-system seam: a file that is accepted must be described
// within its own bytes (records, points, chunk table and EVLRs inside the file, chunks adding up
// to the header's count and to the bytes before the table); one that is refused gets one message
// naming it, and so does one the merge refuses by policy.
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <numeric>
#include <span>
#include <string>

#include "fuzz_support.hpp"
#include "las/point_formats.hpp"
#include "memory_fs.hpp"
#include "plan/extended_checks.hpp"
#include "read/input_reader.hpp"

namespace {

void check_description(const quillet::InputDescription& d, const std::string& note) {
    const std::uint64_t size = d.file_size;
    FUZZ_CHECK(d.record_length >= korvane::base_record_length(d.format), note);
    FUZZ_CHECK(d.header.size() == d.base.HeaderSize && d.base.HeaderSize <= d.base.OffsetToData,
               note);
    FUZZ_CHECK(d.base.OffsetToData <= size, note);
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

// One message, on its own line after an empty one, naming the file; a damaged or unreadable
// input says so by its status.
void check_message(const quillet::Failure& m, const std::string& path) {
    FUZZ_CHECK(m.status == KORVANE_BAD_INPUT || m.status == KORVANE_REFUSED ||
                   m.status == KORVANE_IO_ERROR,
               m.text);
    const std::string& text = m.text;
    FUZZ_CHECK(text.size() > 2 && text.front() == '\n' && text.back() == '\n', text);
    FUZZ_CHECK(text.find('\n', 1) == text.size() - 1, text);
    FUZZ_CHECK(text.find(path) != std::string::npos, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    static const std::string path = "input.laz";
    testing_support::MemoryFs fs;
    fs.put(path, bytes);
    const int fd = fs.open(path.c_str(), O_RDONLY, 0);
    FUZZ_CHECK(fd >= 0, path);
    const quillet::ReadResult read = quillet::read_extended(fd, path, fs);
    fs.close(fd);
    const quillet::Problem refusal = quillet::extended_refusal(read, path);
    if (refusal) check_message(*refusal, path);
    if (read.problem) check_message(*read.problem, path);
    if (!refusal && !read.problem) {
        FUZZ_CHECK(read.description.file_size == size, "size");
        check_description(read.description, "accepted file");
    }
    return 0;
}
