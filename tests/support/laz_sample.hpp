// A LAZ file split into what a codec test needs: its point format, record length, LASzip record
// and chunks, each chunk's bytes with its point count. Uses the library's parsers of the LASzip
// record and the chunk table: it prepares inputs, it does not judge our output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "laz/laszip_record.hpp"
#include "laz_decoder.hpp"

namespace testing_support {

struct LazSample {
    std::vector<std::byte> bytes;  // the whole file
    std::uint8_t minor = 0;
    std::uint8_t format = 0;  // compression bits removed
    std::uint16_t record_length = 0;
    std::uint64_t point_count = 0;
    korvane::laz::LaszipRecord laszip;
    std::vector<CodedChunk> chunks;  // spans into `bytes`, in file order
};

// The sample at `path`; nothing, with `error` set, when it is not a chunked LAZ file this helper
// can split.
std::optional<LazSample> load_laz_sample(const std::string& path, std::string& error);

}  // namespace testing_support
