// The LAS point data formats 0 to 10 as data: the size of a record without extra bytes and the
// fields each format has. Formats 6 to 10 are the "extended" ones of LAS 1.4, with 4-bit return
// numbers, a scanner channel and GPS time always.
#pragma once

#include <cstdint>
#include <optional>

namespace korvane {

struct PointFormat {
    std::uint8_t id = 0;
    std::uint16_t base_size = 0;  // the record length without extra bytes
    bool extended = false;        // formats 6-10
    bool gps_time = false;
    bool rgb = false;
    bool nir = false;
    bool waveform = false;  // a wave packet descriptor that points into waveform data
};

inline constexpr PointFormat kPointFormats[] = {
    {0, 20, false, false, false, false, false}, {1, 28, false, true, false, false, false},
    {2, 26, false, false, true, false, false},  {3, 34, false, true, true, false, false},
    {4, 57, false, true, false, false, true},   {5, 63, false, true, true, false, true},
    {6, 30, true, true, false, false, false},   {7, 36, true, true, true, false, false},
    {8, 38, true, true, true, true, false},     {9, 59, true, true, false, false, true},
    {10, 67, true, true, true, true, true},
};

// The format with this id; nothing for ids above 10.
constexpr std::optional<PointFormat> point_format(std::uint8_t id) {
    if (id >= std::size(kPointFormats)) return std::nullopt;
    return kPointFormats[id];
}

// The record length of a format without extra bytes; 0 for ids above 10.
constexpr std::uint16_t base_record_length(std::uint8_t id) {
    const std::optional<PointFormat> f = point_format(id);
    return f ? f->base_size : 0;
}

// Formats 4, 5, 9 and 10 carry waveform packets that point into the file's own waveform data.
constexpr bool has_waveform_packets(std::uint8_t id) {
    const std::optional<PointFormat> f = point_format(id);
    return f && f->waveform;
}

// Whether LAS 1.minor defines point format `format`: formats 0-3 in every version, 4 and 5 from
// LAS 1.3, 6 to 10 only in LAS 1.4. LAS 1.0 and 1.1 files of formats 2 and 3 exist and are read
// as they are.
constexpr bool format_defined_for(std::uint8_t format, std::uint8_t minor) {
    if (format <= 3) return true;
    if (format <= 5) return minor >= 3;
    return format <= 10 && minor == 4;
}

}  // namespace korvane
