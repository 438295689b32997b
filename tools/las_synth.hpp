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

// A record of the given format (0 to 3, or 6 to 8) for p, written into `into` (the record's
// length in bytes; bytes beyond the format's own are extra bytes); fields other than X, Y, Z and
// the return number are filled from `serial` so that records differ.
void put_record(std::span<std::byte> into, std::uint8_t format, const Point& p,
                std::uint32_t serial);

// Sets the point count, counts by return and bounding box of `header` from the points.
void set_statistics(LAS12Header& header, std::span<const Point> points);

// A whole file: header, the bytes between the header and the point data, and the records.
struct LasFile {
    LAS12Header header{};
    std::vector<std::byte> extension;  // LAS 1.3 and 1.4: the header block's bytes after 227
    std::vector<std::byte> between;    // VLRs, the LAS 1.0 start signature, anything else
    std::vector<std::byte> points;
    std::vector<std::byte> after;  // LAS 1.4: extended variable length records (EVLRs)

    // The header's bytes as they stand (make_las sets OffsetToData to follow `between`; a
    // caller that changes `between` sets it again, or calls lay_out), then the extension,
    // `between`, the records and `after`.
    std::vector<std::byte> bytes() const;
    void write(const std::string& path) const;

    // Sets HeaderSize and OffsetToData from the sizes of the parts, and in LAS 1.4 the start of
    // the first EVLR (right after the records; 0 when `after` is empty).
    void lay_out();
    // A field of the header block beyond the first 227 bytes, by its offset in the file.
    std::uint64_t extension_u64(std::size_t file_offset) const;
    void set_extension_u64(std::size_t file_offset, std::uint64_t value);
    void set_extension_u32(std::size_t file_offset, std::uint32_t value);
};

// The record length of point formats 0 to 10 without extra bytes.
std::uint16_t base_record_length(std::uint8_t format);

// One extended variable length record: 60-byte header and payload.
std::vector<std::byte> evlr(std::string_view user_id, std::uint16_t record_id,
                            std::span<const std::byte> payload);

// A file of LAS 1.3 or 1.4 (minor 3 or 4) with point format `format` (0 to 3; 6 to 8 in 1.4)
// and `extra_bytes` more bytes in each record, holding `points` with its statistics: the
// legacy counts and, in LAS 1.4, the 64-bit counts (the legacy ones 0 with formats 6 to 8, as
// the standard asks). One projection-like VLR when `with_vlr`; GPS times are standard time.
LasFile make_las_extended(std::uint8_t minor, std::uint8_t format, std::span<const Point> points,
                          std::uint16_t extra_bytes = 0, bool with_vlr = true);

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
