// An independent LAZ decoder for the tests: laz-perf 0.0.6 (a WebAssembly build of lazperf) run
// under node by tests/laz/decode_points.js, so Quillet's LAZ output is checked by a decoder that
// shares no code with it. tools/install-lazperf.sh installs it into tests/laz/node_modules.
//
// What it checks and what it does not: it reads the chunks one after another and takes each
// chunk's point count from the chunk table (or from the fixed chunk size), but it never uses the
// chunk byte sizes, so a table with wrong sizes, or junk after the last chunk, decodes fine; test
// those separately. It refuses a chunk table offset of -1, LASzip's unchunked compressor 1, and a
// file of 2 GiB or more. LAS 1.0 and 1.1 files are shown to it as 1.2, which it otherwise refuses.
#pragma once

#include <cstddef>
#include <optional>
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

}  // namespace testing_support
