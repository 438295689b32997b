#include "las/geotiff_keys.hpp"

#include <algorithm>

#include "las/byte_order.hpp"

namespace korvane {
namespace {

constexpr std::size_t kDirectoryHeaderBytes = 8;
constexpr std::uint16_t kUserDefined = 32767;

std::optional<std::uint16_t> value_of(std::span<const GeoKey> keys, std::uint16_t id) {
    const auto it =
        std::find_if(keys.begin(), keys.end(), [id](const GeoKey& k) { return k.id == id; });
    if (it == keys.end()) return std::nullopt;
    return it->value;
}

bool is_code(std::uint16_t value) {
    return value != 0 && value != kUserDefined;
}

}  // namespace

std::optional<std::vector<GeoKey>> read_geo_keys(std::span<const std::byte> payload) {
    if (payload.size() < kDirectoryHeaderBytes) return std::nullopt;
    const auto count = get_le<std::uint16_t>(payload, 6);
    if (std::uint64_t{count} * kGeoKeyEntryBytes > payload.size() - kDirectoryHeaderBytes)
        return std::nullopt;
    std::vector<GeoKey> keys;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t at = kDirectoryHeaderBytes + k * kGeoKeyEntryBytes;
        const auto location = get_le<std::uint16_t>(payload, at + 2);
        const auto values = get_le<std::uint16_t>(payload, at + 4);
        if (location != 0 || values != 1) continue;
        keys.push_back(
            {get_le<std::uint16_t>(payload, at), get_le<std::uint16_t>(payload, at + 6)});
    }
    return keys;
}

std::optional<EpsgCodes> epsg_codes(std::span<const GeoKey> keys) {
    const std::optional<std::uint16_t> model = value_of(keys, geokey::kModelType);
    const std::optional<std::uint16_t> projected = value_of(keys, geokey::kProjectedType);
    std::optional<std::uint16_t> horizontal;
    if (model == 1 || (!model && projected))
        horizontal = projected;
    else if (model == 2 || !model)
        horizontal = value_of(keys, geokey::kGeographicType);
    if (!horizontal || !is_code(*horizontal)) return std::nullopt;

    EpsgCodes codes{*horizontal};
    if (const std::optional<std::uint16_t> vertical = value_of(keys, geokey::kVerticalType)) {
        if (!is_code(*vertical)) return std::nullopt;
        codes.vertical = *vertical;
        const std::optional<std::uint16_t> unit = value_of(keys, geokey::kVerticalUnits);
        if (unit && !is_code(*unit)) return std::nullopt;
        codes.vertical_unit = unit.value_or(0);
    }
    return codes;
}

}  // namespace korvane
