// codec_throughput: times our LAZ chunk codec on one thread, in memory.
//
//   codec_throughput FILE.laz [THREADS]
//
// Reads the file and its chunk table, then decodes every chunk (in pieces of at most 4 MiB, as
// the merge does) and encodes the decoded records of every chunk again, each timed on its own.
// With THREADS, both run on the merge's chunk pipeline with that many threads instead, small
// chunks several to a piece of work, as the merge gives them.
// Prints, for the benchmark scripts, one line per direction:
//   decode POINTS SECONDS        encode POINTS SECONDS
// and a third line telling whether every re-encoded chunk is the file's own chunk, byte for byte.
#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "full_io.hpp"
#include "laz/chunk_codec.hpp"
#include "plan/coding_plan.hpp"
#include "read/input_file.hpp"
#include "read/input_reader.hpp"
#include "write/chunk_pipeline.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: codec_throughput FILE.laz [THREADS]\n");
        return 2;
    }
    const unsigned threads = argc == 3 ? static_cast<unsigned>(std::atoi(argv[2])) : 0;
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
    // Touched before any timing, so that neither way pays for the first use of its pages.
    std::vector<std::byte> records(d.point_count * length, std::byte{1});

    double decode_seconds = 0, encode_seconds = 0;
    std::size_t mismatched = 0;
    if (threads == 0) {
        korvane::laz::ChunkDecoder decoder(record);
        const Clock::time_point decode_start = Clock::now();
        std::size_t at = 0, out = 0;
        for (const korvane::LazChunk& c : d.chunks) {
            if (!decoder.begin(std::span(chunks).subspan(at, c.bytes), c.points)) return 1;
            while (decoder.remaining() > 0) {
                const std::optional<std::size_t> n =
                    decoder.decode(std::span(records).subspan(out));
                if (!n || *n == 0) {
                    std::fprintf(stderr, "codec_throughput: a chunk of %s is damaged\n",
                                 name.c_str());
                    return 1;
                }
                out += *n * length;
            }
            at += c.bytes;
        }
        decode_seconds = seconds_since(decode_start);

        korvane::laz::ChunkEncoder encoder(record);
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
        encode_seconds = seconds_since(encode_start);
    } else {
        // The merge's way: the chunks given in order, small ones several to a piece of work,
        // results taken in order, at most two pieces per thread in flight.
        quillet::ChunkPipeline pipeline(threads);
        std::vector<std::pair<std::size_t, std::size_t>> works;  // first chunk, chunks
        for (std::size_t c = 0; c < d.chunks.size();) {
            std::size_t end = c;
            std::uint64_t points = 0;
            while (end < d.chunks.size() &&
                   (end == c || points + d.chunks[end].points <= quillet::kEncodedChunkPoints))
                points += d.chunks[end++].points;
            works.emplace_back(c, end - c);
            c = end;
        }
        std::vector<std::size_t> chunk_at(d.chunks.size() + 1, 0);
        std::vector<std::size_t> record_at(d.chunks.size() + 1, 0);
        for (std::size_t c = 0; c < d.chunks.size(); ++c) {
            chunk_at[c + 1] = chunk_at[c] + d.chunks[c].bytes;
            record_at[c + 1] = record_at[c] + std::size_t{d.chunks[c].points} * length;
        }
        // The buffers that results give back, reused for the next pieces of work as the merge
        // reuses them.
        std::vector<std::vector<std::byte>> inputs, outputs;
        auto recycle = [&](quillet::ChunkResult& r) {
            inputs.push_back(std::move(r.spare));
            outputs.push_back(std::move(r.bytes));
        };
        auto reused = [](std::vector<std::vector<std::byte>>& pool) {
            std::vector<std::byte> b;
            if (!pool.empty()) {
                b = std::move(pool.back());
                pool.pop_back();
            }
            return b;
        };
        std::size_t out = 0;
        auto take_decoded = [&] {
            quillet::ChunkResult r = pipeline.take();
            std::copy(r.bytes.begin(), r.bytes.end(), records.begin() + static_cast<long>(out));
            out += r.bytes.size();
            const bool ok = r.ok;
            recycle(r);
            return ok;
        };
        const Clock::time_point decode_start = Clock::now();
        for (const auto& [first, n] : works) {
            while (pipeline.full())
                if (!take_decoded()) return 1;
            quillet::ChunkWork w;
            w.record = &record;
            w.bytes = reused(inputs);
            w.output = reused(outputs);
            w.bytes.assign(chunks.begin() + static_cast<long>(chunk_at[first]),
                           chunks.begin() + static_cast<long>(chunk_at[first + n]));
            w.chunks.assign(d.chunks.begin() + static_cast<long>(first),
                            d.chunks.begin() + static_cast<long>(first + n));
            pipeline.give(std::move(w));
        }
        while (!pipeline.empty())
            if (!take_decoded()) return 1;
        decode_seconds = seconds_since(decode_start);

        // Encoding keeps each chunk's points; small chunks go several to a piece of work. Its
        // inputs are records and its outputs chunks: the buffers swap roles.
        std::swap(inputs, outputs);
        std::size_t checked = 0;
        auto take_encoded = [&] {
            quillet::ChunkResult r = pipeline.take();
            std::size_t at = 0;
            for (const korvane::LazChunk& coded : r.chunks) {
                const std::size_t c = checked++;
                mismatched +=
                    !std::ranges::equal(std::span(r.bytes).subspan(at, coded.bytes),
                                        std::span(chunks).subspan(chunk_at[c], d.chunks[c].bytes));
                at += coded.bytes;
            }
            recycle(r);
        };
        const Clock::time_point encode_start = Clock::now();
        for (const auto& [first, n] : works) {
            while (pipeline.full()) take_encoded();
            quillet::ChunkWork w;
            w.kind = quillet::ChunkWork::Kind::Encode;
            w.record = &record;
            w.bytes = reused(inputs);
            w.output = reused(outputs);
            w.bytes.assign(records.begin() + static_cast<long>(record_at[first]),
                           records.begin() + static_cast<long>(record_at[first + n]));
            w.chunks.assign(d.chunks.begin() + static_cast<long>(first),
                            d.chunks.begin() + static_cast<long>(first + n));
            pipeline.give(std::move(w));
        }
        while (!pipeline.empty()) take_encoded();
        encode_seconds = seconds_since(encode_start);
    }

    const auto points = static_cast<unsigned long long>(d.point_count);
    std::printf("decode %llu %.6f\nencode %llu %.6f\n", points, decode_seconds, points,
                encode_seconds);
    std::printf("chunks %zu re-encoded to their bytes: %s (%zu differ)\n", d.chunks.size(),
                mismatched == 0 ? "all" : "NOT ALL", mismatched);
    return mismatched == 0 ? 0 : 1;
}
