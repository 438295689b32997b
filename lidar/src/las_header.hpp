// The raw layer of the LAS public header block: 227 bytes moved whole between a file and a
// LAS12Header, with nothing judged. The 1.0 and 1.1 blocks have the same layout, so every
// version is read and written through LAS12Header.
#pragma once

#include <Korvane_LiDAR.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "file_system.hpp"
#include "las/public_header.hpp"

namespace korvane {

inline constexpr std::size_t kHeaderBytes = 227;
static_assert(sizeof(LAS12Header) == kHeaderBytes && standard_header_size(2) == kHeaderBytes);

// The classic struct lies over the header block exactly as the typed layout places its fields.
static_assert(offsetof(LAS12Header, FileSourceID) == header::kFileSourceId.offset &&
              offsetof(LAS12Header, GlobalEncoding) == header::kGlobalEncoding.offset &&
              offsetof(LAS12Header, VersionMajor) == header::kVersionMajor.offset &&
              offsetof(LAS12Header, VersionMinor) == header::kVersionMinor.offset &&
              offsetof(LAS12Header, SystemIdentifier) == header::kSystemIdentifier.offset &&
              offsetof(LAS12Header, GeneratingSoftware) == header::kGeneratingSoftware.offset &&
              offsetof(LAS12Header, FileCreationDay) == header::kCreationDay.offset &&
              offsetof(LAS12Header, HeaderSize) == header::kHeaderSize.offset &&
              offsetof(LAS12Header, OffsetToData) == header::kOffsetToData.offset &&
              offsetof(LAS12Header, NumberOfVariableLengthRecords) == header::kVlrCount.offset &&
              offsetof(LAS12Header, PointDataFormatID) == header::kFormat.offset &&
              offsetof(LAS12Header, PointDataRecordLength) == header::kRecordLength.offset &&
              offsetof(LAS12Header, NumberOfPointReturns) == header::kLegacyPointCount.offset &&
              offsetof(LAS12Header, NumberOfPointsByReturn) ==
                  header::kLegacyPointsByReturn.offset &&
              offsetof(LAS12Header, XScaleFactor) == header::kScale.at(0) &&
              offsetof(LAS12Header, ZScaleFactor) == header::kScale.at(2) &&
              offsetof(LAS12Header, XOffset) == header::kOffset.at(0) &&
              offsetof(LAS12Header, ZOffset) == header::kOffset.at(2) &&
              offsetof(LAS12Header, MaxX) == header::kBox.at(0) &&
              offsetof(LAS12Header, MinZ) == header::kBox.at(5));

using HeaderBytes = std::array<std::byte, kHeaderBytes>;

LAS12Header header_from_bytes(const HeaderBytes& bytes);
HeaderBytes header_to_bytes(const LAS12Header& header);

// The first 227 bytes of an open file, or nothing when the file is shorter or cannot be read
// (errno is then set, to 0 for a short file).
std::optional<LAS12Header> read_header(FileSystem& fs, int fd);

// Writes the 227 bytes of the header at offset 0. False with errno set on failure.
bool write_header(FileSystem& fs, int fd, const LAS12Header& header);

// The record length that a classic point data format requires: 20, 28, 26 or 34 bytes for
// formats 0 to 3, and 0 for any other format.
std::uint16_t record_length_of_format(std::uint8_t format);

}  // namespace korvane
