// lasgen: writes a synthetic LAS tile for the demo and the benchmarks.
//
//   lasgen OUTPUT.las POINTS [FORMAT [MINOR [SEED [X0 Y0]]]]
//
// The tile holds POINTS pseudo-random points of point format FORMAT (default 1) in LAS 1.MINOR
// (default 2), with a projection-like VLR, scale 0.01 and common offsets; SEED, X0 and Y0 pick
// the points and where the tile lies. LAS 1.0 to 1.3 take formats 0 to 3; LAS 1.4 takes formats
// 0 to 3 and 6 to 8, and more than 2^32 - 1 points. Records are streamed, so tiles of any size
// take little memory.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "las_synth.hpp"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: lasgen OUTPUT.las POINTS [FORMAT [MINOR [SEED [X0 Y0]]]]\n"
                 "  MINOR 0 to 3: FORMAT 0 to 3, at most 4294967295 points\n"
                 "  MINOR 4: FORMAT 0 to 3 or 6 to 8\n");
    return 2;
}

bool valid_choice(std::uint8_t format, std::uint8_t minor, unsigned long long count) {
    if (minor > 4) return false;
    if (format > 3 && !(minor == 4 && format >= 6 && format <= 8)) return false;
    return minor == 4 || count <= std::numeric_limits<std::uint32_t>::max();
}

// Fields of the LAS 1.4 header block beyond the first 227 bytes, by their offset in the file.
constexpr std::size_t kPointCountAt = 247;      // u64
constexpr std::size_t kPointsByReturnAt = 255;  // 15 x u64
constexpr std::size_t kExtendedReturns = 15;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 8) return usage();
    const std::string out = argv[1];
    const unsigned long long count = std::strtoull(argv[2], nullptr, 10);
    const auto format = static_cast<std::uint8_t>(argc > 3 ? std::atoi(argv[3]) : 1);
    const auto minor = static_cast<std::uint8_t>(argc > 4 ? std::atoi(argv[4]) : 2);
    const auto seed = static_cast<std::uint32_t>(argc > 5 ? std::atoi(argv[5]) : 1);
    const std::int32_t x0 = argc > 7 ? std::atoi(argv[6]) : 0;
    const std::int32_t y0 = argc > 7 ? std::atoi(argv[7]) : 0;
    if (!valid_choice(format, minor, count)) return usage();

    // The header is written with the statistics of all points once they are known. LAS 1.3 and
    // 1.4 headers are longer than 227 bytes: the rest of the block (`extension`) is rewritten
    // too, with the 64-bit counts of LAS 1.4.
    const bool extended = minor >= 3;
    lassynth::LasFile head = extended ? lassynth::make_las_extended(minor, format, {}, 0, true)
                                      : lassynth::make_las(minor, format, {}, true);
    std::ofstream f(out, std::ios::binary | std::ios::trunc);
    const std::vector<std::byte> prefix = head.bytes();
    f.write(reinterpret_cast<const char*>(prefix.data()),
            static_cast<std::streamsize>(prefix.size()));

    constexpr std::size_t kChunk = 65536;
    const std::uint16_t length = head.header.PointDataRecordLength;
    std::vector<std::byte> records(kChunk * length);
    LAS12Header stats = head.header;
    std::uint64_t by_return[kExtendedReturns] = {};
    std::uint64_t written = 0;
    std::uint32_t chunk_seed = seed;
    while (written < count) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, count - written));
        const std::vector<lassynth::Point> pts =
            lassynth::random_points(n, chunk_seed++, x0, y0, 100000);
        for (std::size_t i = 0; i < n; ++i)
            lassynth::put_record(std::span(records).subspan(i * length, length), format, pts[i],
                                 static_cast<std::uint32_t>(written + i));
        f.write(reinterpret_cast<const char*>(records.data()),
                static_cast<std::streamsize>(n * length));
        // The chunk's statistics, folded into the file's.
        LAS12Header part = head.header;
        lassynth::set_statistics(part, pts);
        if (written == 0) {
            stats = part;
        } else {
            stats.MaxX = std::max(stats.MaxX, part.MaxX);
            stats.MinX = std::min(stats.MinX, part.MinX);
            stats.MaxY = std::max(stats.MaxY, part.MaxY);
            stats.MinY = std::min(stats.MinY, part.MinY);
            stats.MaxZ = std::max(stats.MaxZ, part.MaxZ);
            stats.MinZ = std::min(stats.MinZ, part.MinZ);
            for (int r = 0; r < 5; ++r)
                stats.NumberOfPointsByReturn[r] += part.NumberOfPointsByReturn[r];
        }
        if (extended)
            for (const lassynth::Point& p : pts)
                if (p.return_number >= 1 && p.return_number <= kExtendedReturns)
                    ++by_return[p.return_number - 1];
        written += n;
    }
    stats.NumberOfPointReturns = static_cast<std::uint32_t>(count);
    if (minor == 4) {
        head.set_extension_u64(kPointCountAt, count);
        for (std::size_t r = 0; r < kExtendedReturns; ++r)
            head.set_extension_u64(kPointsByReturnAt + 8 * r, by_return[r]);
        // The 32-bit counts: 0 with formats 6 to 8, and with any format when they cannot hold
        // the count; the same values as the 64-bit ones otherwise.
        if (format >= 6 || count > std::numeric_limits<std::uint32_t>::max()) {
            stats.NumberOfPointReturns = 0;
            for (int r = 0; r < 5; ++r) stats.NumberOfPointsByReturn[r] = 0;
        }
    }
    f.seekp(0);
    f.write(reinterpret_cast<const char*>(&stats), sizeof stats);
    if (extended)
        f.write(reinterpret_cast<const char*>(head.extension.data()),
                static_cast<std::streamsize>(head.extension.size()));
    f.close();
    if (!f) {
        std::fprintf(stderr, "lasgen: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
