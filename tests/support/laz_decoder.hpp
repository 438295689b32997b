// An independent LAZ decoder for the tests: laz-perf 0.0.7 (a WebAssembly build of lazperf) run
// under node by tests/laz/decode_points.js (whole files) and tests/laz/decode_chunks.js (single
// chunks), so Quillet's LAZ output and our codec are checked by a decoder that shares no code with
// them. tools/install-lazperf.sh installs it into tests/laz/node_modules.
//
// What it checks and what it does not: it reads the chunks one after another and takes each
// chunk's point count from the chunk table (or from the fixed chunk size), but it never uses the
// chunk byte sizes, so a table with wrong sizes, or junk after the last chunk, decodes fine; test
// those separately. It refuses a chunk table offset of -1, LASzip's unchunked compressor 1, and a
// file of 2 GiB or more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace testing_support {

// Empty when the independent LAZ decoder can run here; otherwise why not (node missing,
// laz-perf not installed in tests/laz/node_modules: run tools/install-lazperf.sh).
std::string laz_decoder_unavailable();

// The decoded point records of a LAZ file, back to back; nothing, with `error` set, when the
// decoder fails on it.
std::optional<std::vector<std::byte>> decode_laz_records(const std::string& path,
                                                         std::string& error);

// One coded chunk and the number of points it holds.
struct CodedChunk {
    std::uint32_t points = 0;
    std::span<const std::byte> bytes;
};

// The records of chunks of point format `format` (0-3 or 6-8, the standard LASzip items of that
// format, extra bytes after its base record), decoded one chunk at a time by laz-perf's
// ChunkDecoder, back to back; nothing, with `error` set, when the decoder fails.
std::optional<std::vector<std::byte>> decode_laz_chunks(std::uint8_t format,
                                                        std::uint16_t record_length,
                                                        std::span<const CodedChunk> chunks,
                                                        std::string& error);

}  // namespace testing_support
