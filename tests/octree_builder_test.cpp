// The octree of a file of records is the same whether its subtrees are built whole in memory or
// split as their points stream past through temporary files: the same nodes in the same order
// with the same records, every record in exactly one node, and no temporary file left.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "las_synth.hpp"
#include "scratch_dir.hpp"
#include "write/octree_coder.hpp"

namespace {

using korvane::laz::VoxelKey;
using Bytes = std::vector<std::byte>;
using Xyz = std::array<std::int32_t, 3>;

constexpr std::uint16_t kLength = 30;  // point format 6
constexpr std::array<double, 3> kScale = {0.01, 0.01, 0.01};

struct Node {
    VoxelKey key;
    Bytes records;
    bool operator==(const Node&) const = default;
};

// Records of point format 6 at the given X, Y, Z; the GPS time numbers them, so that no two are
// alike.
Bytes records_at(const std::vector<Xyz>& xyz) {
    Bytes out(xyz.size() * kLength);
    for (std::size_t i = 0; i < xyz.size(); ++i) {
        std::memcpy(out.data() + i * kLength, xyz[i].data(), 12);
        const auto t = static_cast<double>(i);
        std::memcpy(out.data() + i * kLength + 22, &t, 8);
    }
    return out;
}

// The nodes that the builder gives for the records of `file`, under `subtree_memory`.
std::vector<Node> build(const std::string& file, const std::vector<Xyz>& xyz,
                        std::uint64_t subtree_memory, const quillet::OctreeRules& rules,
                        const std::string& dir) {
    korvane::FileSystem fs;
    std::array<double, 6> box = {1e300, 1e300, 1e300, -1e300, -1e300, -1e300};
    for (const Xyz& p : xyz)
        for (std::size_t a = 0; a < 3; ++a) {
            box[a] = std::min(box[a], p[a] * kScale[a]);
            box[a + 3] = std::max(box[a + 3], p[a] * kScale[a]);
        }
    const quillet::OctreeCube cube = quillet::octree_cube(box, kScale[0]);
    const quillet::OctreeBuild b{rules, quillet::CellMapper(cube, kScale, {}, rules.max_depth),
                                 kLength, subtree_memory, dir};
    std::vector<Node> nodes;
    const quillet::PieceSink sink = [&](quillet::OctreePiece piece) -> quillet::Problem {
        quillet::each_piece_node(piece, b.rules, b.cells, kLength,
                                 [&](const VoxelKey& key, std::span<const std::byte> records) {
                                     nodes.push_back({key, Bytes(records.begin(), records.end())});
                                 });
        return std::nullopt;
    };
    quillet::PointFile points{korvane::UniqueFd(fs, fs.open(file.c_str(), O_RDONLY, 0)), 0,
                              xyz.size()};
    const quillet::Problem p = quillet::build_octree_pieces(
        std::move(points), b, sink, [] { return quillet::Problem{}; }, fs);
    EXPECT_FALSE(p) << p->text;
    return nodes;
}

TEST(OctreeBuilder, TheSameOctreeWholeOrSplit) {
    std::mt19937 random(7);
    const auto cloud = [&](std::size_t n, std::int32_t side, bool flat) {
        std::uniform_int_distribution<std::int32_t> at(-side, side);
        std::vector<Xyz> xyz(n);
        for (Xyz& p : xyz) p = {at(random), at(random), flat ? 5 : at(random)};
        return xyz;
    };
    struct Row {
        const char* what;
        std::vector<Xyz> xyz;
        quillet::OctreeRules rules;
    };
    const Row rows[] = {
        {"a dense cloud, many levels", cloud(60000, 400, false), {500, 20}},
        {"a flat tile", cloud(60000, 3000, true), {1000, 20}},
        {"coincident points, down to the deepest level",
         std::vector<Xyz>(6000, {7, 8, 9}),
         {1000, 20}},
        {"a shallow maximum depth keeps the rest in its nodes", cloud(40000, 200, false), {100, 3}},
        {"the cube's corners and faces",
         {{-100, -100, -100}, {100, 100, 100}, {100, -100, 0}, {0, 0, 100}, {-100, 100, 100}},
         {1, 20}},
    };
    testing_support::ScratchDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Bytes records = records_at(row.xyz);
        lassynth::write_bytes(dir / "records", records);
        const std::vector<Node> whole =
            build(dir / "records", row.xyz, ~std::uint64_t{0}, row.rules, dir.path());
        // Every record once: the nodes' records, sorted, are the input's.
        using Record = std::array<std::byte, kLength>;
        const auto split_records = [](const Bytes& bytes, std::vector<Record>& into) {
            for (std::size_t at = 0; at < bytes.size(); at += kLength)
                std::memcpy(into.emplace_back().data(), bytes.data() + at, kLength);
        };
        std::vector<Record> in, out;
        split_records(records, in);
        for (const Node& n : whole) split_records(n.records, out);
        std::sort(in.begin(), in.end());
        std::sort(out.begin(), out.end());
        EXPECT_TRUE(in == out) << "a record lost or repeated";
        // Split wherever a node is not a leaf, and split part of the way.
        for (const std::uint64_t memory : {std::uint64_t{0}, std::uint64_t{60} << 10}) {
            SCOPED_TRACE(memory);
            EXPECT_TRUE(build(dir / "records", row.xyz, memory, row.rules, dir.path()) == whole)
                << "a subtree split as it streams differs from one built whole";
        }
        EXPECT_EQ(testing_support::list_dir(dir.path()), std::vector<std::string>{"records"});
    }
}

}  // namespace
