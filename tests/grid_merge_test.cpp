// Tiles on different grids merged by `Quillet --extended` without moving a point: LAS inputs
// rewritten, LAZ inputs shifted or re-encoded. The oracle is computed here from the headers:
// every point's raw output value is k * raw + d exactly, its real coordinate is the input's
// within what a reader can tell (or, with --rescale, within half a step), and every other byte of
// each record is the input's; LAZ files are read by laz-perf. Then the refusals, a header box
// that lies, and --dry-run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>

#include "byte_fields.hpp"
#include "child_process.hpp"
#include "laz_decoder.hpp"
#include "laz_merge_fixture.hpp"
#include "merge_fixture.hpp"
#include "point_records.hpp"

namespace {

using Bytes = std::vector<std::byte>;
using testing_support::ChildResult;
using testing_support::get;
using testing_support::grid_header_of;
using testing_support::GridHeader;
using testing_support::put;
using testing_support::records_of;
using testing_support::ScratchDir;

const std::string kSamples = std::string(SAMPLES_DIR) + "/";

// A LAS 1.2 tile of format 1 on the grid (scale, offset) of every axis, its points `count`
// pseudo-random ones around `centre` (in real units), its box from its points; with
// `extra_bytes`, a LAS 1.3 tile whose records have that many more bytes.
Bytes las_on_grid(double scale, std::array<double, 3> offset, std::array<double, 3> centre,
                  std::size_t count, std::uint32_t seed, std::uint16_t extra_bytes = 0) {
    std::vector<lassynth::Point> points = lassynth::random_points(count, seed);
    for (lassynth::Point& p : points) {
        p.x = static_cast<std::int32_t>(std::llround((centre[0] - offset[0]) / scale)) + p.x / 10;
        p.y = static_cast<std::int32_t>(std::llround((centre[1] - offset[1]) / scale)) + p.y / 10;
        p.z = static_cast<std::int32_t>(std::llround((centre[2] - offset[2]) / scale)) + p.z;
    }
    lassynth::LasFile f = extra_bytes == 0 ? lassynth::make_las(2, 1, points)
                                           : lassynth::make_las_extended(3, 1, points, extra_bytes);
    f.header.XScaleFactor = f.header.YScaleFactor = f.header.ZScaleFactor = scale;
    f.header.XOffset = offset[0], f.header.YOffset = offset[1], f.header.ZOffset = offset[2];
    lassynth::set_statistics(f.header, points);
    return f.bytes();
}

// A copy of a LAZ sample whose offsets (and box, so that it still encloses the same raw values)
// are moved by `steps` of its scale on each axis.
Bytes laz_moved(const std::string& sample, std::array<double, 3> steps) {
    Bytes b = lassynth::read_bytes(kSamples + sample);
    for (std::size_t a = 0; a < 3; ++a) {
        const double moved = steps[a] * get<double>(b, 131 + 8 * a);
        put<double>(b, 155 + 8 * a, get<double>(b, 155 + 8 * a) + moved);
        put<double>(b, 179 + 16 * a, get<double>(b, 179 + 16 * a) + moved);
        put<double>(b, 187 + 16 * a, get<double>(b, 187 + 16 * a) + moved);
    }
    return b;
}

long double ulp(long double v) {
    const double d = static_cast<double>(std::fabs(v));
    return std::nextafter(d, INFINITY) - d;
}

// Checks the output's records against the inputs' as the oracle says.
void expect_points_kept(const Bytes& output, const Bytes& out_records,
                        const std::vector<std::pair<Bytes, Bytes>>& inputs, bool rounded) {
    const GridHeader out = grid_header_of(output);
    std::size_t at = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        const GridHeader in = grid_header_of(inputs[i].first);
        const Bytes& records = inputs[i].second;
        const std::size_t length = in.record_length;
        ASSERT_LE(at + records.size(), out_records.size());
        std::array<std::int64_t, 3> k{}, d{};
        for (std::size_t a = 0; a < 3; ++a) {
            k[a] = std::llroundl(static_cast<long double>(in.scale[a]) / out.scale[a]);
            d[a] = std::llroundl((static_cast<long double>(in.offset[a]) - out.offset[a]) /
                                 out.scale[a]);
        }
        int reported = 0;
        for (std::size_t r = 0; r + length <= records.size() && reported < 3; r += length) {
            const std::byte* pin = records.data() + r;
            const std::byte* pout = out_records.data() + at + r;
            for (std::size_t a = 0; a < 3; ++a) {
                std::int32_t raw_in, raw_out;
                std::memcpy(&raw_in, pin + 4 * a, 4);
                std::memcpy(&raw_out, pout + 4 * a, 4);
                const long double real_in =
                    in.offset[a] + static_cast<long double>(in.scale[a]) * raw_in;
                const long double real_out =
                    out.offset[a] + static_cast<long double>(out.scale[a]) * raw_out;
                const long double allowed =
                    (rounded ? out.scale[a] / 2.0L
                             : std::max(1e-6L * out.scale[a], 4 * ulp(real_in))) +
                    2 * ulp(real_in);
                if (!rounded && raw_out != raw_in * k[a] + d[a]) {
                    ADD_FAILURE() << "record " << r / length << " axis " << a << ": raw " << raw_in
                                  << " became " << raw_out << ", not " << raw_in * k[a] + d[a];
                    ++reported;
                }
                if (std::fabs(real_out - real_in) > allowed) {
                    ADD_FAILURE() << "record " << r / length << " axis " << a << " moved by "
                                  << static_cast<double>(real_out - real_in);
                    ++reported;
                }
            }
            if (std::memcmp(pin + 12, pout + 12, length - 12) != 0) {
                ADD_FAILURE() << "record " << r / length << ": bytes after X, Y, Z differ";
                ++reported;
            }
        }
        at += records.size();
    }
    EXPECT_EQ(at, out_records.size()) << "the output holds other records than the inputs'";
}

class GridMerge : public testing_support::LazMergeFixture {};

TEST_F(GridMerge, PointsKeepTheirCoordinates) {
    using Make = std::function<Bytes()>;
    const std::array<double, 3> here{500000, 4000000, 0}, there{583000, 4000000, 0};
    const std::array<double, 3> middle{541500, 4000500, 50};
    struct Row {
        const char* what;
        std::vector<std::pair<std::string, Make>> inputs;
        std::string output;
        std::vector<std::string> actions;  // per input, the last word of its plan line; "" none
        std::vector<std::string> options = {};
        bool rounded = false;
    };
    const Row rows[] = {
        {"per-tile X offsets, LAS",
         {{"a.las", [&] { return las_on_grid(0.01, here, middle, 3000, 1); }},
          {"b.las", [&] { return las_on_grid(0.01, there, middle, 2000, 2); }}},
         "m.las",
         {"", "rewritten"}},
        // 100-byte records: 4 MiB of them is not a whole number of records.
        {"per-tile X offsets, LAS of long records, more than 4 MiB of them",
         {{"a.las", [&] { return las_on_grid(0.01, here, middle, 10, 11, 72); }},
          {"b.las", [&] { return las_on_grid(0.01, there, middle, 50000, 12, 72); }}},
         "m.las",
         {"", "rewritten"}},
        {"per-tile X offsets, LAS into LAZ",
         {{"a.las", [&] { return las_on_grid(0.01, here, middle, 3000, 1); }},
          {"b.las", [&] { return las_on_grid(0.01, there, middle, 2000, 2); }}},
         "m.laz",
         {"encoded", "encoded"}},
        {"0.01 beside 0.001",
         {{"a.las", [&] { return las_on_grid(0.01, here, middle, 1000, 3); }},
          {"b.las", [&] { return las_on_grid(0.001, here, middle, 1000, 4); }}},
         "m.las",
         {"rewritten", ""}},
        {"a box the first offset cannot hold: the offset moves to the centre",
         {{"a.las",
           [&] {
               return las_on_grid(0.001, {0, 0, 0}, {100, 100, 1}, 500, 5);
           }},
          {"b.las",
           [&] {
               return las_on_grid(0.001, {3000000, 0, 0}, {3000000, 100, 1}, 500, 6);
           }}},
         "m.las",
         {"rewritten", "rewritten"}},
        {"per-tile LAZ offsets, shifted without decoding",
         {{"a.laz", [] { return lassynth::read_bytes(kSamples + "lone-star-split-1.laz"); }},
          {"b.laz",
           [] {
               return laz_moved("lone-star-split-2.laz", {100000, -200000, 0});
           }}},
         "m.laz",
         {"", "shifted"},
         {"--threads", "2"}},
        {"LAS and LAZ mixed: the LAS encoded, the LAZ shifted",
         {{"a.las",
           [] {
               const std::string lone = kSamples + "lone-star-split-3.laz";
               // The LAZ file as LAS: its header and records, no VLRs.
               Bytes las = lassynth::read_bytes(lone);
               las.resize(227);
               put<std::uint32_t>(las, 96, 227);
               put<std::uint32_t>(las, 100, 0);
               las[104] = std::byte{1};
               const Bytes records = records_of(lone);
               las.resize(227 + records.size());
               std::copy(records.begin(), records.end(), las.begin() + 227);
               return las;
           }},
          {"b.laz",
           [] {
               return laz_moved("lone-star-split-4.laz", {-10000, 1000, 0});
           }}},
         "m.laz",
         {"encoded", "shifted"}},
        {"a Z offset of point-wise LAZ: re-encoded",
         {{"a.laz", [] { return lassynth::read_bytes(kSamples + "lone-star-split-1.laz"); }},
          {"b.laz",
           [] {
               return laz_moved("lone-star-split-2.laz", {0, 0, 40000});
           }}},
         "m.laz",
         {"", "re-encoded"}},
        {"a Z offset of layered LAZ: shifted",
         {{"a.laz", [] { return lassynth::read_bytes(kSamples + "append-bug.laz"); }},
          {"b.laz",
           [] {
               return laz_moved("append-bug.laz", {1000, -2000, 3000});
           }}},
         "m.laz",
         {"", "shifted"}},
        // Its raw X reaches 1.3e9, beyond the 2^30 steps within which a shift cannot wrap.
        {"whole-step offsets of format 6 with EVLRs and a box beyond 2^30 steps: re-encoded",
         {{"a.laz", [] { return lassynth::read_bytes(kSamples + "1_4_w_evlr.laz"); }},
          {"b.laz",
           [] {
               return laz_moved("1_4_w_evlr.laz", {-500, 700, -900});
           }}},
         "m.laz",
         {"", "re-encoded"}},
        {"offsets on half steps merge on a grid of half the step",
         {{"a.las", [&] { return las_on_grid(0.01, here, middle, 800, 9); }},
          {"b.las",
           [&] {
               return las_on_grid(0.01, {500000.005, 4000000, 0}, middle, 800, 10);
           }}},
         "m.las",
         {"rewritten", "rewritten"}},
        {"rescale rounds a scale that is not a multiple",
         {{"a.las", [&] { return las_on_grid(0.003, here, middle, 800, 7); }},
          {"b.las", [&] { return las_on_grid(0.01, here, middle, 800, 8); }}},
         "m.las",
         {"", "rewritten"},
         {"--rescale"},
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> names;
        std::vector<std::pair<Bytes, Bytes>> inputs;
        for (const auto& [name, make] : row.inputs) {
            lassynth::write_bytes(dir_ / name, make());
            names.push_back(name);
        }
        for (const std::string& n : names)
            inputs.push_back({lassynth::read_bytes(dir_ / n), records_of(dir_ / n)});
        const ChildResult r = merge(dir_, names, row.output, row.options);
        ASSERT_EQ(r.exit_status, 0) << r.out;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string& action = row.actions[i];
            const bool listed = r.out.find("\n" + names[i] + ":") != std::string::npos;
            EXPECT_EQ(listed, !action.empty()) << names[i] << "\n" << r.out;
            if (!action.empty()) {
                const std::size_t line = r.out.find("\n" + names[i] + ":");
                const std::size_t end = r.out.find('\n', line + 1);
                EXPECT_TRUE(line != std::string::npos &&
                            r.out.substr(0, end).ends_with(" " + action))
                    << names[i] << " " << action << "\n"
                    << r.out;
            }
        }
        EXPECT_NE(r.out.find("\nOutput grid: scale factors "), std::string::npos) << r.out;
        const Bytes out = lassynth::read_bytes(dir_ / row.output);
        expect_points_kept(out, records_of(dir_ / row.output), inputs, row.rounded);
        // The box encloses every output point.
        const GridHeader h = grid_header_of(out);
        const Bytes records = records_of(dir_ / row.output);
        for (std::size_t at = 0; at + h.record_length <= records.size(); at += h.record_length)
            for (std::size_t a = 0; a < 3; ++a) {
                const std::int32_t raw = get<std::int32_t>(records, at + 4 * a);
                const double real = h.offset[a] + h.scale[a] * raw;
                ASSERT_TRUE(real <= h.max[a] + h.scale[a] && real >= h.min[a] - h.scale[a])
                    << "axis " << a << " " << real << " outside " << h.min[a] << ".." << h.max[a];
            }
        for (const std::string& n : names) std::filesystem::remove(dir_ / n);
    }
}

TEST_F(GridMerge, RefusalsAndBoxesThatLie) {
    // Refusals: one message, nothing written, the earlier output kept.
    struct Case {
        const char* what;
        Bytes a, b;
        std::string message;
    };
    const std::array<double, 3> here{500000, 4000000, 0};
    const Case cases[] = {
        // No grid of 0.003 / 2^a 5^b holds 0.01, nor one of 0.01 / 2^a 5^b a third of a step.
        {"a scale that is not a whole multiple",
         las_on_grid(0.003, here, {500010, 4000010, 5}, 100, 1),
         las_on_grid(0.01, here, {500010, 4000010, 5}, 100, 2),
         "\nXScaleFactor of b.las is 0.01, which is not a whole multiple of the output's 0.003: "},
        {"an offset that is not a whole number of steps",
         las_on_grid(0.01, here, {500010, 4000010, 5}, 100, 1),
         las_on_grid(0.01, {500000 + 0.01 / 3, 4000000, 0}, {500010, 4000010, 5}, 100, 2),
         "\nXOffset of b.las is 500000.00333333336, which is not a whole number of the output's "
         "steps of 0.01 from 500000: its points would move by 0.00333 (--rescale rounds "
         "them)\n"},
        {"a box no offset can fit", las_on_grid(0.0001, here, {500010, 4000010, 5}, 10, 1),
         las_on_grid(0.0001, {1100000, 4000000, 0}, {1100010, 4000010, 5}, 10, 2),
         "\nThe X coordinates of a.las ("},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        lassynth::write_bytes(dir / "a.las", c.a);
        lassynth::write_bytes(dir / "b.las", c.b);
        dir.write_text("list.txt", "a.las\nb.las\n");
        dir.write_text("m.las", "the user's earlier merge");
        const ChildResult r =
            testing_support::run_quillet_in(dir, {"--extended", "list.txt", "m.las"});
        EXPECT_EQ(r.exit_status, 255);
        const std::size_t at = r.out.find(c.message);
        EXPECT_NE(at, std::string::npos) << r.out;
        EXPECT_EQ(r.out.find('\n', at + 1), r.out.size() - 1) << "one message, last: " << r.out;
        EXPECT_EQ(lassynth::read_bytes(dir / "m.las").size(), 24u);
        EXPECT_EQ(testing_support::list_dir(dir.path()).size(), 4u);
    }

    // A box that does not hold the chunks' first points: not shifted, but re-encoded, and every
    // point checked.
    Bytes lying = laz_moved("lone-star-split-2.laz", {100000, 0, 0});
    put<double>(lying, 179, get<double>(lying, 187) + 0.001);  // MaxX just above MinX
    lassynth::write_bytes(dir_ / "a.laz", lassynth::read_bytes(kSamples + "lone-star-split-1.laz"));
    lassynth::write_bytes(dir_ / "b.laz", lying);
    ChildResult r = merge(dir_, {"a.laz", "b.laz"}, "m.laz");
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("(X + 100000 steps), re-encoded\n"), std::string::npos) << r.out;
    expect_points_kept(lassynth::read_bytes(dir_ / "m.laz"), records_of(dir_ / "m.laz"),
                       {{lassynth::read_bytes(dir_ / "a.laz"), records_of(dir_ / "a.laz")},
                        {lying, records_of(dir_ / "b.laz")}},
                       false);

    // A box that lies so that the offset fits but the points, moved, leave the 32-bit range:
    // the re-encoding finds the first of them.
    Bytes far = lassynth::read_bytes(kSamples + "lone-star-split-2.laz");
    const double x0 = get<double>(far, 155);
    put<double>(far, 155, x0 - 536850.0);  // 2,147,400,000 steps of 0.00025 below the first's
    put<double>(far, 179, x0 - 536850.0);  // a box of one point, at the offset
    put<double>(far, 187, x0 - 536850.0);
    lassynth::write_bytes(dir_ / "b.laz", far);
    dir_.write_text("m.laz", "the user's earlier merge");
    r = testing_support::run_quillet_in(dir_, {"--extended", "list.txt", "m.laz"});
    EXPECT_EQ(r.exit_status, 255) << r.out;
    EXPECT_EQ(lassynth::read_bytes(dir_ / "m.laz").size(), 24u) << "the old output is kept";
    EXPECT_TRUE(
        r.out.ends_with(" of b.laz lies outside its header box: on the output's grid it "
                        "leaves the 32-bit range\n"))
        << r.out;
}

TEST_F(GridMerge, DryRunPrintsThePlanAndWritesNothing) {
    lassynth::write_bytes(dir_ / "a.laz", lassynth::read_bytes(kSamples + "lone-star-split-1.laz"));
    lassynth::write_bytes(dir_ / "b.laz", laz_moved("lone-star-split-2.laz", {100000, -200000, 0}));
    const ChildResult r = merge(dir_, {"a.laz", "b.laz"}, "m.laz", {"--dry-run"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_TRUE(
        r.out.ends_with("\n2 files to be merged into m.laz\nOutput grid: scale factors "
                        "0.00025 0.00025 0.00025, offsets 515396 4918348 2324\nb.laz: "
                        "XOffset 515421 -> 515396 (X + 100000 steps), YOffset 4918298 -> "
                        "4918348 (Y - 200000 steps), shifted\n"))
        << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "m.laz"));
    EXPECT_EQ(testing_support::list_dir(dir_.path()).size(), 3u);
}

}  // namespace
