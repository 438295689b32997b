// Recomputation of a LAS file's header statistics from its point records, in place.
#pragma once

#include <cstddef>
#include <cstdio>

#include "file_system.hpp"

namespace korvane {

// Bytes of point data read per call while scanning; the scan buffer holds the largest whole
// number of records that fits.
inline constexpr std::size_t kScanBlockBytes = std::size_t{1} << 18;

// Classifies `filename`, scans every whole point record from OffsetToData to the end of the
// file, and rewrites the header's point count, counts by return and bounding box (header
// offsets 107 to 130 and 179 to 226); no other byte of the file changes. Prints the progress
// line and returns true when the new header has been written and the file closed. On any
// failure prints one message (classification failures print the classification's own) and
// returns false with the file as it was. `block_bytes` sets the scan buffer (at least one
// record is read per call).
bool update_header(const char* filename, std::FILE* out, FileSystem& fs,
                   std::size_t block_bytes = kScanBlockBytes);

}  // namespace korvane
