// The GeoTIFF key directory record (LASF_Projection 34735), the way LAS 1.0-1.3 and point formats
// 0-5 state a coordinate system, and which EPSG codes its keys name. Pure functions over bytes;
// reading the record and turning codes into a system (PROJ) are the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korvane {

// The coordinate system records of LASF_Projection.
inline constexpr std::uint16_t kGeoKeyDirectoryId = 34735;
inline constexpr std::uint16_t kGeoDoubleParamsId = 34736;
inline constexpr std::uint16_t kGeoAsciiParamsId = 34737;
inline constexpr std::uint16_t kWktRecordId = 2112;

// The directory: a header of four u16 (key directory version, key revision, minor revision,
// number of keys), then one entry of four u16 per key: key id, TIFF tag location, count, value.
// A location of 0 means the value is the key's one u16 value; any other names a parameter record.
inline constexpr std::size_t kGeoKeyEntryBytes = 8;

// The keys that name a coordinate system.
namespace geokey {
inline constexpr std::uint16_t kModelType = 1024;  // 1 projected, 2 geographic, 3 geocentric
inline constexpr std::uint16_t kGeographicType = 2048;
inline constexpr std::uint16_t kProjectedType = 3072;
inline constexpr std::uint16_t kVerticalType = 4096;
inline constexpr std::uint16_t kVerticalUnits = 4099;
}  // namespace geokey

// A key with its value in the directory itself.
struct GeoKey {
    std::uint16_t id = 0;
    std::uint16_t value = 0;
    bool operator==(const GeoKey&) const = default;
};

// The short keys of a directory, in its order; nothing when the bytes are not a directory (too
// short for the number of keys they state). Keys whose values lie in parameter records are left
// out: none of them names an EPSG code.
std::optional<std::vector<GeoKey>> read_geo_keys(std::span<const std::byte> payload);

// The EPSG codes of a system: the horizontal one (projected or geographic), and the vertical one
// with the unit of its heights when the keys state them.
struct EpsgCodes {
    std::uint16_t horizontal = 0;
    std::uint16_t vertical = 0;       // 0: none
    std::uint16_t vertical_unit = 0;  // 0: the vertical system's own
    bool operator==(const EpsgCodes&) const = default;
};

// The EPSG codes that `keys` name, when every part of the system they state has one: a projected
// system (model type 1, or no model type and a projected key) or a geographic one (model type 2,
// or neither model type nor projected key); a vertical system when it has a key. Nothing for a
// geocentric model and for any part that is user-defined (32767) or undefined (0), as several
// writers state a system they describe in parameters instead.
std::optional<EpsgCodes> epsg_codes(std::span<const GeoKey> keys);

}  // namespace korvane
