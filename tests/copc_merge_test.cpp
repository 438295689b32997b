// Merges into cloud optimised LAZ (*.copc.laz), checked by independent readers: the `copc` npm
// package loads the info VLR and every hierarchy page and decodes every node (with laz-perf), and
// the inputs' points come from their own bytes or laz-perf. Every input point is in the output
// exactly once, every node's points lie in its cube, the info matches the points, and the bytes
// do not depend on the thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <regex>

#include "byte_fields.hpp"
#include "copc_merge_fixture.hpp"
#include "point_records.hpp"

namespace {

using Bytes = std::vector<std::byte>;
using testing_support::get;

// A point as compared: its real X, Y, Z on a grid of 1e-6 and its GPS time.
using Point = std::array<long long, 4>;

long long on_micro_grid(double v) {
    return std::llround(v * 1e6);
}

// The points of a LAS or LAZ input, from its own bytes or laz-perf's decoding.
std::vector<Point> input_points(const std::string& path) {
    const Bytes file = lassynth::read_bytes(path);
    const testing_support::GridHeader h = testing_support::grid_header_of(file);
    const Bytes records = testing_support::records_of(path);
    const int format = h.format_byte & 0x3F;
    const std::size_t gps_at = format >= 6 ? 22 : 20;
    const bool has_gps = format == 1 || format == 3 || format >= 6;
    std::vector<Point> points;
    for (std::size_t at = 0; at + h.record_length <= records.size(); at += h.record_length) {
        Point p{};
        for (std::size_t a = 0; a < 3; ++a)
            p[a] = on_micro_grid(h.offset[a] + h.scale[a] * get<std::int32_t>(records, at + 4 * a));
        p[3] = has_gps ? on_micro_grid(get<double>(records, at + gps_at)) : 0;
        points.push_back(p);
    }
    return points;
}

// A tile of LAS 1.`minor`, `format`, `count` random points around (x0, y0), shifted so that it
// is on a grid with X offset `x_offset`.
Bytes tile(std::uint8_t minor, std::uint8_t format, std::size_t count, std::uint32_t seed,
           std::int32_t size = 100000, std::uint16_t extra = 0) {
    std::vector<lassynth::Point> points = lassynth::random_points(count, seed, 0, 0, size);
    lassynth::LasFile f = minor >= 3
                              ? lassynth::make_las_extended(minor, format, points, extra, false)
                              : lassynth::make_las(minor, format, points, false);
    f.header.GlobalEncoding = 1;
    if (extra != 0) {
        // One described field of `extra` bytes (undocumented bytes, data type 0).
        Bytes descriptor(192, std::byte{0});
        descriptor[3] = std::byte{static_cast<std::uint8_t>(extra)};
        const std::string name = "Width";
        std::copy(name.begin(), name.end(), reinterpret_cast<char*>(descriptor.data() + 4));
        const Bytes record = lassynth::vlr("LASF_Spec", 4, descriptor);
        f.between.insert(f.between.end(), record.begin(), record.end());
        f.header.NumberOfVariableLengthRecords += 1;
        f.lay_out();
    }
    return f.bytes();
}

class CopcMerge : public testing_support::CopcMergeFixture {};

TEST_F(CopcMerge, EveryPointOnceInItsNode) {
    struct Row {
        const char* what;
        std::vector<std::pair<std::string, std::function<Bytes()>>> inputs;  // name, bytes
        int format;                                                          // the output's
    };
    const auto sample = [](const char* name) {
        return [name] { return lassynth::read_bytes(std::string(SAMPLES_DIR) + "/" + name); };
    };
    const auto flat = [] {
        std::vector<lassynth::Point> points = lassynth::random_points(3000, 9);
        for (lassynth::Point& p : points) p.z = 42;
        return lassynth::make_las(2, 1, points, false).bytes();
    };
    const auto one_place = [](std::size_t count) {
        return [count] {
            std::vector<lassynth::Point> points(count, lassynth::Point{5, 6, 7, 1});
            return lassynth::make_las(2, 0, points, false).bytes();
        };
    };
    const Row rows[] = {
        {"LAZ of format 1, two tiles",
         {{"a.laz", sample("lone-star-split-1.laz")}, {"b.laz", sample("lone-star-split-2.laz")}},
         6},
        {"LAS of format 3", {{"a.las", sample("thin-1.las")}, {"b.las", sample("thin-2.las")}}, 7},
        {"a COPC input, read as points", {{"a.laz", sample("1.2-with-color.copc.laz")}}, 7},
        {"formats 6, 7 and 8 with extra bytes",
         {{"a.las", [] { return tile(4, 6, 4000, 1, 100000, 3); }},
          {"b.las", [] { return tile(4, 8, 3000, 2, 100000, 3); }},
          {"c.las", [] { return tile(4, 7, 2000, 3, 100000, 3); }}},
         8},
        {"one point", {{"a.las", [] { return tile(2, 1, 1, 4); }}}, 6},
        {"no points: a root without a chunk", {{"a.las", [] { return tile(2, 1, 0, 4); }}}, 6},
        {"a LAS 1.4 header with bytes of its own",
         {{"a.las",
           [] {
               std::vector<lassynth::Point> points = lassynth::random_points(500, 6);
               lassynth::LasFile f = lassynth::make_las_extended(4, 6, points, 0, false);
               f.extension.resize(f.extension.size() + 8, std::byte{'x'});
               f.lay_out();
               return f.bytes();
           }}},
         6},
        {"a flat tile", {{"a.las", flat}}, 6},
        {"150,000 points at one place, past the leaf size", {{"a.las", one_place(150000)}}, 6},
        {"a dense tile: many levels", {{"a.las", [] { return tile(2, 1, 200000, 5, 3000); }}}, 6},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> names;
        std::vector<Point> expected;
        for (const auto& [name, make] : row.inputs) {
            lassynth::write_bytes(dir_ / name, make());
            names.push_back(name);
            const std::vector<Point> in = input_points(dir_ / name);
            expected.insert(expected.end(), in.begin(), in.end());
        }
        // The least budget: the larger inputs go through temporary files on their way to the
        // octree.
        std::vector<std::string> args = {"-o", "m.copc.laz", "--memory", "64M"};
        args.insert(args.end(), names.begin(), names.end());
        const testing_support::ChildResult r = testing_support::run_quillet_in(dir_, args);
        ASSERT_EQ(r.exit_status, 0) << r.out;

        std::string error;
        const auto copc = testing_support::read_copc(dir_ / "m.copc.laz", true, error);
        ASSERT_TRUE(copc) << error;
        EXPECT_EQ(copc->point_format, row.format);
        // The info VLR right after a header of LAS 1.4's 375 bytes.
        const Bytes out = lassynth::read_bytes(dir_ / "m.copc.laz");
        EXPECT_EQ(get<std::uint16_t>(out, 94), 375);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()) + 377, 4), "copc");
        EXPECT_EQ(get<std::uint16_t>(out, 375 + 18), 1) << "the info VLR's record id";
        EXPECT_EQ(copc->point_count, expected.size());
        const auto& c = copc->cube;
        EXPECT_GT(c[3] - c[0], 0) << "the cube has no size";
        std::vector<Point> got;
        double gps_min = INFINITY, gps_max = -INFINITY;
        std::int64_t outside = 0;
        for (const testing_support::CopcNode& n : copc->nodes) {
            const std::array<int, 3> key = {n.x, n.y, n.z};
            for (const auto& p : n.points) {
                for (std::size_t a = 0; a < 3; ++a) {
                    // Within a millionth of the node's side and rounding at the coordinate's size.
                    const double side = (c[a + 3] - c[a]) / std::ldexp(1.0, n.depth);
                    const double lo = c[a] + side * key[a], hi = lo + side;
                    const double tolerance = 1e-6 * side + 1e-12 * (1 + std::fabs(p[a]));
                    outside += p[a] < lo - tolerance || p[a] > hi + tolerance;
                }
                got.push_back({on_micro_grid(p[0]), on_micro_grid(p[1]), on_micro_grid(p[2]),
                               on_micro_grid(p[3])});
                gps_min = std::min(gps_min, p[3]);
                gps_max = std::max(gps_max, p[3]);
            }
        }
        EXPECT_EQ(outside, 0) << "coordinates outside their node's cube";
        if (!expected.empty()) {
            EXPECT_EQ(copc->gps_time_range[0], gps_min);
            EXPECT_EQ(copc->gps_time_range[1], gps_max);
        }
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_TRUE(got == expected) << "the output's points are not the inputs', once each";
        for (const std::string& n : names) std::filesystem::remove(dir_ / n);
    }
}

TEST_F(CopcMerge, SameBytesWhateverTheThreadsAndMemory) {
    lassynth::write_bytes(dir_ / "a.las", tile(2, 3, 150000, 7, 2000));
    std::vector<Bytes> outputs;
    for (const char* threads : {"1", "2", "5"}) {
        const std::string name = std::string("m") + threads + ".copc.laz";
        ASSERT_EQ(testing_support::run_quillet_in(
                      dir_, {"-o", name, "a.las", "--threads", threads, "--memory", "64M"})
                      .exit_status,
                  0);
        outputs.push_back(lassynth::read_bytes(dir_ / name));
    }
    ASSERT_EQ(testing_support::run_quillet_in(dir_, {"-o", "m.copc.laz", "a.las"}).exit_status, 0);
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_EQ(outputs[0], outputs[2]);
    EXPECT_EQ(outputs[0], lassynth::read_bytes(dir_ / "m.copc.laz"))
        << "split through temporary files under the least budget, built whole under the default";
    std::filesystem::remove(dir_ / "m.copc.laz");
    std::string error;
    const auto copc = testing_support::read_copc(dir_ / "m1.copc.laz", false, error);
    ASSERT_TRUE(copc) << error;
    EXPECT_GT(copc->nodes.size(), 8u) << "a tile this dense should make more than one level";
    EXPECT_EQ(testing_support::list_dir(dir_.path()),
              (std::vector<std::string>{"a.las", "m1.copc.laz", "m2.copc.laz", "m5.copc.laz"}))
        << "a staged file is left";
}

// Where the points are staged: --temp-dir, else $TMPDIR, else beside the output; a staging
// directory that cannot take the file fails the merge with nothing left behind.
TEST_F(CopcMerge, StagingDirectory) {
    lassynth::write_bytes(dir_ / "a.las", tile(2, 1, 2000, 8));
    std::filesystem::create_directory(dir_ / "stage");
    struct Row {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::string> env;
        int status;
        std::string message;  // a piece of standard output
    };
    const Row rows[] = {
        {"--temp-dir, before $TMPDIR",
         {"--temp-dir", "stage"},
         {"TMPDIR=gone"},
         0,
         "staged as LAS in stage ("},
        {"$TMPDIR", {}, {"TMPDIR=stage"}, 0, "staged as LAS in stage ("},
        {"beside the output", {}, {"TMPDIR"}, 0, "staged as LAS beside the output ("},
        {"a --temp-dir that is missing",
         {"--temp-dir", "gone"},
         {"TMPDIR"},
         255,
         "Cannot open binary file gone/m.copc.laz.Quillet-"},
        {"a $TMPDIR that is missing", {}, {"TMPDIR=gone"}, 255, "gone/m.copc.laz.Quillet-"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::filesystem::remove(dir_ / "m.copc.laz");
        std::vector<std::string> args = {"-o", "m.copc.laz", "a.las"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        testing_support::ChildOptions options;
        options.extra_env = row.env;
        const testing_support::ChildResult plan = testing_support::run_quillet_in(
            dir_,
            [&] {
                auto a = args;
                a.push_back("--dry-run");
                return a;
            }(),
            options);
        const testing_support::ChildResult r = testing_support::run_quillet_in(dir_, args, options);
        EXPECT_EQ(r.exit_status, row.status) << r.out;
        EXPECT_NE((plan.out + r.out).find(row.message), std::string::npos) << plan.out << r.out;
        if (row.status == 0) {
            // The plan: 2,000 records of 30 bytes, the cube that the header's box gives, one
            // level (one leaf), the default budget.
            const std::regex line(
                "Cloud optimised LAZ: the points staged as LAS in stage \\(60000 bytes\\), then an "
                "octree of 128 cells a side per node and at most 100000 points a leaf, in a cube "
                "of half size [0-9.]+ centred on [0-9.-]+ [0-9.-]+ [0-9.-]+, about 1 level deep, "
                "each node one chunk, built in at most 1073741824 bytes of memory\n");
            if (row.message.find("beside") == std::string::npos) {
                EXPECT_TRUE(std::regex_search(plan.out, line)) << plan.out;
            }
        }
        EXPECT_EQ(std::filesystem::exists(dir_ / "m.copc.laz"), row.status == 0);
        EXPECT_TRUE(std::filesystem::is_empty(dir_ / "stage")) << "a staged file is left";
        const std::vector<std::string> left =
            row.status == 0 ? std::vector<std::string>{"a.las", "m.copc.laz", "stage"}
                            : std::vector<std::string>{"a.las", "stage"};
        EXPECT_EQ(testing_support::list_dir(dir_.path()), left);
    }
}

}  // namespace
