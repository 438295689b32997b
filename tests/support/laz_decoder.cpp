#include "laz_decoder.hpp"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "child_process.hpp"
#include "scratch_dir.hpp"

namespace testing_support {
namespace {

const std::string kLazDir = std::string(TESTS_SOURCE_DIR) + "/laz";
const std::string kScript = kLazDir + "/decode_points.js";
const std::string kChunkScript = kLazDir + "/decode_chunks.js";
const std::string kPackage = kLazDir + "/node_modules/laz-perf/package.json";
constexpr const char* kVersion = "\"version\": \"0.0.7\"";

// A decode of a few hundred megabytes takes tens of seconds; a hung one fails the test.
constexpr unsigned kTimeoutSeconds = 600;

// execve needs a path: node (or nodejs, its older Debian name) is looked up in PATH.
std::string find_node() {
    return find_program({"node", "nodejs"});
}

std::string first_line(const std::string& text) {
    const std::size_t end = text.find('\n');
    return text.substr(0, end);
}

}  // namespace

std::string laz_decoder_unavailable() {
    if (find_node().empty()) return "node is not installed (Debian package nodejs)";
    std::ifstream package(kPackage);
    if (!package)
        return "laz-perf is not installed in " + kLazDir +
               "/node_modules: run tools/install-lazperf.sh";
    const std::string text{std::istreambuf_iterator<char>(package), {}};
    if (text.find(kVersion) == std::string::npos)
        return "the laz-perf in " + kLazDir +
               "/node_modules is not version 0.0.7: run tools/install-lazperf.sh";
    return {};
}

namespace {

// Runs a decoder script with `args` and returns the records it wrote to OUT (its last argument).
std::optional<std::vector<std::byte>> run_decoder(std::vector<std::string> args,
                                                  const std::string& out, std::string& error) {
    if (const std::string why = laz_decoder_unavailable(); !why.empty()) {
        error = why;
        return std::nullopt;
    }
    args.insert(args.begin(), find_node());
    ChildOptions options;
    options.timeout_seconds = kTimeoutSeconds;
    const ChildResult run = run_child(args, options);
    if (run.signal != 0) {
        error = "the LAZ decoder was ended by signal " + std::to_string(run.signal);
        return std::nullopt;
    }
    if (run.exit_status != 0) {
        error = run.err.empty()
                    ? "the LAZ decoder exited with status " + std::to_string(run.exit_status)
                    : first_line(run.err);
        return std::nullopt;
    }
    std::ifstream f(out, std::ios::binary | std::ios::ate);
    if (!f) {
        error = "the LAZ decoder wrote no " + out;
        return std::nullopt;
    }
    std::vector<std::byte> records(static_cast<std::size_t>(f.tellg()));
    f.seekg(0);
    f.read(reinterpret_cast<char*>(records.data()), static_cast<std::streamsize>(records.size()));
    if (!f) {
        error = "cannot read " + out;
        return std::nullopt;
    }
    error.clear();
    return records;
}

}  // namespace

std::optional<std::vector<std::byte>> decode_laz_records(const std::string& path,
                                                         std::string& error) {
    const ScratchDir dir;
    const std::string out = dir / "records.bin";
    return run_decoder({kScript, path, out}, out, error);
}

std::optional<std::vector<std::byte>> decode_laz_chunks(std::uint8_t format,
                                                        std::uint16_t record_length,
                                                        std::span<const CodedChunk> chunks,
                                                        std::string& error) {
    const ScratchDir dir;
    const std::string in = dir / "chunks.bin";
    const std::string out = dir / "records.bin";
    {
        std::ofstream f(in, std::ios::binary);
        for (const CodedChunk& c : chunks) {
            const std::uint32_t frame[2] = {c.points, static_cast<std::uint32_t>(c.bytes.size())};
            f.write(reinterpret_cast<const char*>(frame), sizeof frame);
            f.write(reinterpret_cast<const char*>(c.bytes.data()),
                    static_cast<std::streamsize>(c.bytes.size()));
        }
        if (!f) {
            error = "cannot write " + in;
            return std::nullopt;
        }
    }
    return run_decoder(
        {kChunkScript, std::to_string(format), std::to_string(record_length), in, out}, out, error);
}

}  // namespace testing_support
