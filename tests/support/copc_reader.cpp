#include "copc_reader.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "child_process.hpp"

namespace testing_support {
namespace {

const std::string kLazDir = std::string(TESTS_SOURCE_DIR) + "/laz";
const std::string kScript = kLazDir + "/read_copc.js";
const std::string kPackage = kLazDir + "/node_modules/copc/package.json";
constexpr const char* kVersion = "\"version\": \"0.0.8\"";

// Decoding every point of a large output takes a while; a hung reader fails the test.
constexpr unsigned kTimeoutSeconds = 600;

// execve needs a path: node (or nodejs, its older Debian name) is looked up in PATH.
std::string find_node() {
    return find_program({"node", "nodejs"});
}

template <std::size_t N>
std::array<double, N> doubles(const nlohmann::json& j) {
    if (j.size() != N) throw std::runtime_error("expected " + std::to_string(N) + " numbers");
    std::array<double, N> a{};
    for (std::size_t i = 0; i < N; ++i) a[i] = j.at(i).get<double>();
    return a;
}

CopcReport parse_report(const std::string& text) {
    const nlohmann::json j = nlohmann::json::parse(text);
    const nlohmann::json& info = j.at("info");
    const nlohmann::json& header = j.at("header");
    CopcReport r;
    r.cube = doubles<6>(info.at("cube"));
    r.spacing = info.at("spacing").get<double>();
    r.root_page_offset = info.at("rootHierarchyPage").at("pageOffset").get<std::uint64_t>();
    r.root_page_length = info.at("rootHierarchyPage").at("pageLength").get<std::uint64_t>();
    r.gps_time_range = doubles<2>(info.at("gpsTimeRange"));
    r.point_count = header.at("pointCount").get<std::uint64_t>();
    r.point_format = header.at("pointDataRecordFormat").get<int>();
    r.record_length = header.at("pointDataRecordLength").get<int>();
    r.scale = doubles<3>(header.at("scale"));
    r.offset = doubles<3>(header.at("offset"));
    r.min = doubles<3>(header.at("min"));
    r.max = doubles<3>(header.at("max"));
    r.pages = j.at("pages").get<int>();
    for (const nlohmann::json& n : j.at("nodes")) {
        CopcNode node;
        const std::string key = n.at("key").get<std::string>();
        char rest = 0;
        if (std::sscanf(key.c_str(), "%d-%d-%d-%d%c", &node.depth, &node.x, &node.y, &node.z,
                        &rest) != 4)
            throw std::runtime_error("bad node key " + key);
        node.point_count = n.at("pointCount").get<std::int64_t>();
        node.offset = n.at("pointDataOffset").get<std::uint64_t>();
        node.byte_size = n.at("pointDataLength").get<std::uint64_t>();
        if (n.contains("points"))
            for (const nlohmann::json& p : n.at("points")) node.points.push_back(doubles<4>(p));
        r.nodes.push_back(std::move(node));
    }
    return r;
}

}  // namespace

std::string copc_reader_unavailable() {
    if (find_node().empty()) return "node is not installed (Debian package nodejs)";
    std::ifstream package(kPackage);
    if (!package)
        return "copc is not installed in " + kLazDir +
               "/node_modules: run tools/install-lazperf.sh";
    const std::string text{std::istreambuf_iterator<char>(package), {}};
    if (text.find(kVersion) == std::string::npos)
        return "the copc in " + kLazDir +
               "/node_modules is not version 0.0.8: run tools/install-lazperf.sh";
    return {};
}

std::optional<CopcReport> read_copc(const std::string& path, bool with_points, std::string& error) {
    if (const std::string why = copc_reader_unavailable(); !why.empty()) {
        error = why;
        return std::nullopt;
    }
    std::vector<std::string> args = {find_node(), kScript, path};
    if (with_points) args.push_back("--points");
    ChildOptions options;
    options.timeout_seconds = kTimeoutSeconds;
    const ChildResult run = run_child(args, options);
    if (run.signal != 0) {
        error = "the COPC reader was ended by signal " + std::to_string(run.signal);
        return std::nullopt;
    }
    if (run.exit_status != 0) {
        error = run.err.empty()
                    ? "the COPC reader exited with status " + std::to_string(run.exit_status)
                    : run.err.substr(0, run.err.find('\n'));
        return std::nullopt;
    }
    try {
        CopcReport report = parse_report(run.out);
        error.clear();
        return report;
    } catch (const std::exception& e) {
        error = std::string("cannot parse what the COPC reader printed: ") + e.what();
        return std::nullopt;
    }
}

}  // namespace testing_support
