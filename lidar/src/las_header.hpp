// The raw layer of the LAS public header block: 227 bytes moved whole between a file and a
// LAS12Header, with nothing judged. The 1.0 and 1.1 blocks have the same layout, so every
// version is read and written through LAS12Header.
#pragma once

#include <Korvane_LiDAR.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "file_system.hpp"

namespace korvane {

static_assert(std::endian::native == std::endian::little,
              "LAS records are little-endian and are used in memory as they lie in the file");

inline constexpr std::size_t kHeaderBytes = 227;
static_assert(sizeof(LAS12Header) == kHeaderBytes);

using HeaderBytes = std::array<std::byte, kHeaderBytes>;

LAS12Header header_from_bytes(const HeaderBytes& bytes);
HeaderBytes header_to_bytes(const LAS12Header& header);

// The first 227 bytes of an open file, or nothing when the file is shorter or cannot be read
// (errno is then set, to 0 for a short file).
std::optional<LAS12Header> read_header(FileSystem& fs, int fd);

// Writes the 227 bytes of the header at offset 0. False with errno set on failure.
bool write_header(FileSystem& fs, int fd, const LAS12Header& header);

// The record length that a point data format requires: 20, 28, 26 or 34 bytes for formats 0
// to 3, and 0 for any other format.
std::uint16_t record_length_of_format(std::uint8_t format);

}  // namespace korvane
