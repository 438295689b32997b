// codec_throughput: times our LAZ chunk codec on one thread, in memory.
//
//   codec_throughput FILE.laz
//
// Reads the file and its chunk table, then decodes every chunk (in pieces of at most 4 MiB, as
// the merge does) and encodes the decoded records of every chunk again, each timed on its own.
// Prints, for the benchmark scripts, one line per direction:
//   decode POINTS SECONDS        encode POINTS SECONDS
// and a third line telling whether every re-encoded chunk is the file's own chunk, byte for byte.
#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "full_io.hpp"
#include "input_file.hpp"
#include "input_reader.hpp"
#include "laz/chunk_codec.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: codec_throughput FILE.laz\n");
        return 2;
    }
    const std::string name = argv[1];
    korvane::FileSystem& fs = korvane::system_files();
    const korvane::UniqueFd fd = quillet::open_input(name, fs);
    const quillet::ReadResult read = quillet::read_extended(fd.get(), name, fs);
    if (read.problem || !read.description.laszip) {
        std::fprintf(stderr, "codec_throughput: %s is not a chunked LAZ file we read%s",
                     name.c_str(), read.problem ? read.problem->text.c_str() : "\n");
        return 1;
    }
    const quillet::InputDescription& d = read.description;
    const korvane::laz::LaszipRecord& record = d.laszip->record;
    if (korvane::laz::unsupported_item(record)) {
        std::fprintf(stderr, "codec_throughput: %s has items our codec does not implement\n",
                     name.c_str());
        return 1;
    }
    std::vector<std::byte> chunks(d.points.length);
    if (korvane::read_full(fs, fd.get(), chunks, static_cast<off_t>(d.points.offset)) !=
        static_cast<ssize_t>(chunks.size())) {
        std::fprintf(stderr, "codec_throughput: cannot read %s\n", name.c_str());
        return 1;
    }
    const std::size_t length = d.record_length;
    std::vector<std::byte> records(d.point_count * length);

    korvane::laz::ChunkDecoder decoder(record);
    const Clock::time_point decode_start = Clock::now();
    std::size_t at = 0, out = 0;
    for (const korvane::LazChunk& c : d.chunks) {
        if (!decoder.begin(std::span(chunks).subspan(at, c.bytes), c.points)) return 1;
        while (decoder.remaining() > 0) {
            const std::optional<std::size_t> n = decoder.decode(std::span(records).subspan(out));
            if (!n || *n == 0) {
                std::fprintf(stderr, "codec_throughput: a chunk of %s is damaged\n", name.c_str());
                return 1;
            }
            out += *n * length;
        }
        at += c.bytes;
    }
    const double decode_seconds = seconds_since(decode_start);

    korvane::laz::ChunkEncoder encoder(record);
    std::size_t mismatched = 0;
    at = 0;
    out = 0;
    const Clock::time_point encode_start = Clock::now();
    for (const korvane::LazChunk& c : d.chunks) {
        encoder.begin();
        encoder.encode(std::span(records).subspan(out, std::size_t{c.points} * length));
        const std::span<const std::byte> coded = encoder.finish();
        mismatched += !std::ranges::equal(coded, std::span(chunks).subspan(at, c.bytes));
        out += std::size_t{c.points} * length;
        at += c.bytes;
    }
    const double encode_seconds = seconds_since(encode_start);

    const auto points = static_cast<unsigned long long>(d.point_count);
    std::printf("decode %llu %.6f\nencode %llu %.6f\n", points, decode_seconds, points,
                encode_seconds);
    std::printf("chunks %zu re-encoded to their bytes: %s (%zu differ)\n", d.chunks.size(),
                mismatched == 0 ? "all" : "NOT ALL", mismatched);
    return mismatched == 0 ? 0 : 1;
}
