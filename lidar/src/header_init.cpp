// Fresh headers of new, empty LAS 1.0, 1.1 and 1.2 files.
//
// The three header records share one byte layout, so one routine fills the 227 bytes of any
// of them; only VersionMinor differs. The bytes behind the signature of GUIDData4,
// SystemIdentifier and GeneratingSoftware are left as the caller had them.
#include <Korvane_LiDAR.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "las_header.hpp"

namespace korvane {
namespace {

constexpr std::string_view kGeneratingSoftware = "Korvane LiDAR Utilities";
static_assert(kGeneratingSoftware.size() + 1 <= sizeof(LAS12Header::GeneratingSoftware));

template <typename T>
void store(std::byte* block, std::size_t at, T value) {
    std::memcpy(block + at, &value, sizeof value);
}

void zero(std::byte* block, std::size_t from, std::size_t to_excluding) {
    std::memset(block + from, 0, to_excluding - from);
}

void initialize_header(std::byte* block, std::uint8_t minor) {
    std::memcpy(block + offsetof(LAS12Header, LASF), "LASF", 4);
    // FileSourceID/GlobalEncoding (or their reserved names) through the first byte of GUIDData4.
    zero(block, offsetof(LAS12Header, FileSourceID), offsetof(LAS12Header, GUIDData4) + 1);
    store<std::uint8_t>(block, offsetof(LAS12Header, VersionMajor), 1);
    store<std::uint8_t>(block, offsetof(LAS12Header, VersionMinor), minor);
    store<std::uint8_t>(block, offsetof(LAS12Header, SystemIdentifier), 0);
    std::memcpy(block + offsetof(LAS12Header, GeneratingSoftware), kGeneratingSoftware.data(),
                kGeneratingSoftware.size());
    store<std::uint8_t>(block,
                        offsetof(LAS12Header, GeneratingSoftware) + kGeneratingSoftware.size(), 0);
    store<std::uint16_t>(block, offsetof(LAS12Header, FileCreationDay), 0);
    store<std::uint16_t>(block, offsetof(LAS12Header, FileCreationYear), 0);
    store<std::uint16_t>(block, offsetof(LAS12Header, HeaderSize), kHeaderBytes);
    store<std::uint32_t>(block, offsetof(LAS12Header, OffsetToData), kHeaderBytes);
    store<std::uint32_t>(block, offsetof(LAS12Header, NumberOfVariableLengthRecords), 0);
    store<std::uint8_t>(block, offsetof(LAS12Header, PointDataFormatID), 0);
    store<std::uint16_t>(block, offsetof(LAS12Header, PointDataRecordLength), 0);
    // NumberOfPointReturns and the five counts by return.
    zero(block, offsetof(LAS12Header, NumberOfPointReturns), offsetof(LAS12Header, XScaleFactor));
    store<double>(block, offsetof(LAS12Header, XScaleFactor), 1.0);
    store<double>(block, offsetof(LAS12Header, YScaleFactor), 1.0);
    store<double>(block, offsetof(LAS12Header, ZScaleFactor), 1.0);
    // The offsets and the six extents: positive zeros, all bits clear.
    zero(block, offsetof(LAS12Header, XOffset), kHeaderBytes);
}

}  // namespace
}  // namespace korvane

extern "C" {

void initialize_header10(LAS10Header* ph) {
    korvane::initialize_header(reinterpret_cast<std::byte*>(ph), 0);
}

void initialize_header11(LAS11Header* ph) {
    korvane::initialize_header(reinterpret_cast<std::byte*>(ph), 1);
}

void initialize_header12(LAS12Header* ph) {
    korvane::initialize_header(reinterpret_cast<std::byte*>(ph), 2);
}

}  // extern "C"
