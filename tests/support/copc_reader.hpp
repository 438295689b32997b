// An independent COPC reader for the tests: the copc package 0.0.8 (copc.js, decoding with
// laz-perf) run under node by tests/laz/read_copc.js, so Quillet's COPC output is checked by a
// reader that shares no code with it. tools/install-lazperf.sh installs it into
// tests/laz/node_modules.
//
// The reader walks every hierarchy page and refuses pages or nodes that lie outside the file, a
// page reached twice and a key listed twice. It does not compare the header's point count with
// the nodes' counts, nor check that points lie in their node's cube: the tests do that.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// Empty when the independent COPC reader can run here; otherwise why not (node missing, copc
// not installed in tests/laz/node_modules: run tools/install-lazperf.sh).
std::string copc_reader_unavailable();

// One node of the hierarchy: its key, its points' count and where their chunk lies in the file,
// and, when asked for, the points themselves as {x, y, z, gps time}, scaled and offset.
struct CopcNode {
    int depth = 0;
    int x = 0, y = 0, z = 0;
    std::int64_t point_count = 0;
    std::uint64_t offset = 0;
    std::uint64_t byte_size = 0;
    std::vector<std::array<double, 4>> points;
};

// What the reader saw: the info VLR (cube as min x, y, z then max x, y, z), the header fields
// that place the points, the number of hierarchy pages, and the nodes sorted by key (depth, x,
// y, z).
struct CopcReport {
    std::array<double, 6> cube{};
    double spacing = 0;
    std::uint64_t root_page_offset = 0, root_page_length = 0;
    std::array<double, 2> gps_time_range{};
    std::uint64_t point_count = 0;
    int point_format = 0;
    int record_length = 0;
    std::array<double, 3> scale{}, offset{}, min{}, max{};
    int pages = 0;
    std::vector<CopcNode> nodes;
};

// Reads the COPC file at `path`, with every node's points when `with_points`; nothing, with
// `error` set, when the reader cannot run or fails on the file.
std::optional<CopcReport> read_copc(const std::string& path, bool with_points, std::string& error);

}  // namespace testing_support
