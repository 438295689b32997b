// The LAS 1.0-1.4 public header block as one typed layout: every field's name, offset, type and
// count, and the version that added it. The first 227 bytes are those of LAS 1.0-1.2 (the
// classic LAS12Header struct lies over them, and checks its offsets against this table); LAS 1.3
// adds 8 bytes, LAS 1.4 140 more. Only positions and byte moves here; nothing is judged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "las/byte_order.hpp"

namespace korvane {

// A field of `count` values of type T at `offset`, first in LAS 1.`since_minor`.
template <typename T>
struct HeaderField {
    using Type = T;
    std::string_view name;
    std::size_t offset = 0;
    std::size_t count = 1;
    std::uint8_t since_minor = 0;

    constexpr std::size_t size() const { return sizeof(T) * count; }
    constexpr std::size_t end() const { return offset + size(); }
    // The i-th value's offset.
    constexpr std::size_t at(std::size_t i = 0) const { return offset + sizeof(T) * i; }
};

namespace header {
inline constexpr HeaderField<char> kSignature{"FileSignature", 0, 4};
inline constexpr HeaderField<std::uint16_t> kFileSourceId{"FileSourceID", 4};
inline constexpr HeaderField<std::uint16_t> kGlobalEncoding{"GlobalEncoding", 6};
inline constexpr HeaderField<std::uint8_t> kProjectId{"ProjectID", 8, 16};
inline constexpr HeaderField<std::uint8_t> kVersionMajor{"VersionMajor", 24};
inline constexpr HeaderField<std::uint8_t> kVersionMinor{"VersionMinor", 25};
inline constexpr HeaderField<char> kSystemIdentifier{"SystemIdentifier", 26, 32};
inline constexpr HeaderField<char> kGeneratingSoftware{"GeneratingSoftware", 58, 32};
inline constexpr HeaderField<std::uint16_t> kCreationDay{"FileCreationDay", 90};
inline constexpr HeaderField<std::uint16_t> kCreationYear{"FileCreationYear", 92};
inline constexpr HeaderField<std::uint16_t> kHeaderSize{"HeaderSize", 94};
inline constexpr HeaderField<std::uint32_t> kOffsetToData{"OffsetToData", 96};
inline constexpr HeaderField<std::uint32_t> kVlrCount{"NumberOfVariableLengthRecords", 100};
inline constexpr HeaderField<std::uint8_t> kFormat{"PointDataFormatID", 104};
inline constexpr HeaderField<std::uint16_t> kRecordLength{"PointDataRecordLength", 105};
inline constexpr HeaderField<std::uint32_t> kLegacyPointCount{"NumberOfPointReturns", 107};
inline constexpr HeaderField<std::uint32_t> kLegacyPointsByReturn{"NumberOfPointsByReturn", 111, 5};
inline constexpr HeaderField<double> kScale{"ScaleFactor", 131, 3};  // X, Y, Z
inline constexpr HeaderField<double> kOffset{"Offset", 155, 3};      // X, Y, Z
inline constexpr HeaderField<double> kBox{"MaxMinXYZ", 179, 6};  // MaxX MinX MaxY MinY MaxZ MinZ
inline constexpr HeaderField<std::uint64_t> kWaveformStart{"StartOfWaveformData", 227, 1, 3};
inline constexpr HeaderField<std::uint64_t> kEvlrStart{"StartOfFirstEVLR", 235, 1, 4};
inline constexpr HeaderField<std::uint32_t> kEvlrCount{"NumberOfEVLRs", 243, 1, 4};
inline constexpr HeaderField<std::uint64_t> kPointCount{"NumberOfPointRecords", 247, 1, 4};
inline constexpr HeaderField<std::uint64_t> kPointsByReturn{"NumberOfPointsByReturn64", 255, 15, 4};
}  // namespace header

// Where each field lies, in file order: the table the layout is checked against.
struct HeaderFieldPlace {
    std::string_view name;
    std::size_t offset;
    std::size_t size;
    std::uint8_t since_minor;
};

template <typename T>
constexpr HeaderFieldPlace place_of(HeaderField<T> f) {
    return {f.name, f.offset, f.size(), f.since_minor};
}

inline constexpr std::array kHeaderLayout = {
    place_of(header::kSignature),
    place_of(header::kFileSourceId),
    place_of(header::kGlobalEncoding),
    place_of(header::kProjectId),
    place_of(header::kVersionMajor),
    place_of(header::kVersionMinor),
    place_of(header::kSystemIdentifier),
    place_of(header::kGeneratingSoftware),
    place_of(header::kCreationDay),
    place_of(header::kCreationYear),
    place_of(header::kHeaderSize),
    place_of(header::kOffsetToData),
    place_of(header::kVlrCount),
    place_of(header::kFormat),
    place_of(header::kRecordLength),
    place_of(header::kLegacyPointCount),
    place_of(header::kLegacyPointsByReturn),
    place_of(header::kScale),
    place_of(header::kOffset),
    place_of(header::kBox),
    place_of(header::kWaveformStart),
    place_of(header::kEvlrStart),
    place_of(header::kEvlrCount),
    place_of(header::kPointCount),
    place_of(header::kPointsByReturn),
};

// The size of the standard header block of LAS 1.minor: where the last field it has ends.
constexpr std::uint16_t standard_header_size(std::uint8_t minor) {
    std::size_t end = 0;
    for (const HeaderFieldPlace& f : kHeaderLayout)
        if (f.since_minor <= minor) end = f.offset + f.size;
    return static_cast<std::uint16_t>(end);
}

// The fields follow each other without gaps, and the three versions end where LAS says.
constexpr bool header_layout_is_contiguous() {
    std::size_t end = 0;
    for (const HeaderFieldPlace& f : kHeaderLayout) {
        if (f.offset != end) return false;
        end = f.offset + f.size;
    }
    return true;
}
static_assert(header_layout_is_contiguous());
static_assert(standard_header_size(2) == 227 && standard_header_size(3) == 235 &&
              standard_header_size(4) == 375);

inline constexpr std::size_t kLegacyReturns = header::kLegacyPointsByReturn.count;
inline constexpr std::size_t kExtendedReturns = header::kPointsByReturn.count;

// Global encoding bit 0: GPS times are adjusted standard time (set) or GPS week time.
inline constexpr std::uint16_t kGpsTimeIsStandard = 1;
// Global encoding bit 4: the coordinate reference system is stated as WKT, not GeoTIFF keys
// (LAS 1.4 asks it of point formats 6-10).
inline constexpr std::uint16_t kCrsIsWkt = 1 << 4;

// The point data format byte: bit 7 (bit 6 for some old writers) marks LASzip compression, the
// low six bits are the format.
inline constexpr std::uint8_t kCompressedBits = 0xC0;
inline constexpr std::uint8_t kFormatBits = 0x3F;

// The i-th value of a field, read from a header block that holds it.
template <typename T>
T read_field(std::span<const std::byte> header, HeaderField<T> f, std::size_t i = 0) {
    return get_le<T>(header, f.at(i));
}

template <typename T>
void write_field(std::span<std::byte> header, HeaderField<T> f, T value, std::size_t i = 0) {
    put_le<T>(header, f.at(i), value);
}

}  // namespace korvane
