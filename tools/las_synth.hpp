// A small writer of synthetic LAS files, for the tests, the demo and the benchmarks.
//
// It builds a header, variable length records and point records of formats 0 to 3 from raw
// integer coordinates, and computes the header's counts and bounding box from the points, so a
// caller knows exactly what every byte of the file should be. Callers that want a malformed
// file change the header or the bytes afterwards.
#pragma once

#include <Korvane_LiDAR.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lassynth {

struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t z = 0;
    std::uint8_t return_number = 1;  // stored in bits 0 to 2 of the record's bitfield
};

// A header of LAS 1.minor with the given point format, its matching record length, scale
// factors 0.01 and offsets 0, no points and an empty box.
LAS12Header new_header(std::uint8_t minor, std::uint8_t format);

// One variable length record: 54-byte header and payload.
std::vector<std::byte> vlr(std::string_view user_id, std::uint16_t record_id,
                           std::span<const std::byte> payload);

// A record of the given format for p, written into `into` (the record's length in bytes);
// fields other than X, Y, Z and the return number are filled from `serial` so that records
// differ.
void put_record(std::span<std::byte> into, std::uint8_t format, const Point& p,
                std::uint32_t serial);

// Sets the point count, counts by return and bounding box of `header` from the points.
void set_statistics(LAS12Header& header, std::span<const Point> points);

// A whole file: header, the bytes between the header and the point data, and the records.
struct LasFile {
    LAS12Header header{};
    std::vector<std::byte> between;  // VLRs, the LAS 1.0 start signature, anything else
    std::vector<std::byte> points;

    // The header's bytes as they stand (make_las sets OffsetToData to follow `between`; a
    // caller that changes `between` sets it again), then `between`, then the records.
    std::vector<std::byte> bytes() const;
    void write(const std::string& path) const;
};

// A file of LAS 1.minor, point format `format`, holding `points` (statistics computed), with
// one projection-like VLR when `with_vlr`; LAS 1.0 files also get the two-byte start signature.
LasFile make_las(std::uint8_t minor, std::uint8_t format, std::span<const Point> points,
                 bool with_vlr = true);

// `count` deterministic pseudo-random points inside a box of the given size around (x0, y0).
std::vector<Point> random_points(std::size_t count, std::uint32_t seed, std::int32_t x0 = 0,
                                 std::int32_t y0 = 0, std::int32_t size = 100000);

void write_bytes(const std::string& path, std::span<const std::byte> bytes);
std::vector<std::byte> read_bytes(const std::string& path);

}  // namespace lassynth
