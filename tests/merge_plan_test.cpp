// The planning stages as pure functions, with no file: descriptions of inputs give the output's
// schema and each input's plan (copied, decoded, encoded, re-encoded, rewritten or shifted, with
// or without a record transform), or the one refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "las/extra_bytes.hpp"
#include "las/point_formats.hpp"
#include "las/public_header.hpp"
#include "las_header.hpp"
#include "laz/laszip_record.hpp"
#include "plan/coding_plan.hpp"
#include "plan/grid_plan.hpp"
#include "plan/output_schema.hpp"

namespace {

using quillet::Coding;
using quillet::InputDescription;
using quillet::OutputForm;

namespace laz = korvane::laz;

// One tile as the readers would describe it: `points` points of `format` in LAS 1.`minor`, on
// the grid of scale 0.01 with X offset `x_offset`, its box from 1000 to 2000 on every axis.
struct Tile {
    std::string name;
    std::uint8_t format = 1;
    bool laz = false;
    double x_offset = 0;
    std::uint64_t points = 100;
    std::uint8_t minor = 2;
    std::uint16_t global_encoding = 0;
    std::uint32_t laszip_options = 0;
};

InputDescription describe(const Tile& t) {
    InputDescription d;
    d.name = t.name;
    d.minor = t.minor;
    d.format = t.format;
    d.record_length = korvane::base_record_length(t.format);
    d.compressed = t.laz;
    d.point_count = t.points;
    d.points_by_return[0] = t.points;
    LAS12Header h{};
    h.VersionMinor = t.minor;
    h.GlobalEncoding = t.global_encoding;
    h.PointDataFormatID = t.format;
    h.PointDataRecordLength = d.record_length;
    h.XScaleFactor = h.YScaleFactor = h.ZScaleFactor = 0.01;
    h.XOffset = t.x_offset;
    h.MaxX = h.MaxY = h.MaxZ = 2000;
    h.MinX = h.MinY = h.MinZ = 1000;
    d.base = h;
    const korvane::HeaderBytes bytes = korvane::header_to_bytes(h);
    d.header.assign(bytes.begin(), bytes.end());
    if (t.laz) {
        quillet::LaszipInfo z;
        z.record = laz::standard_laszip_record(t.format, 0, 50000);
        z.record.options = t.laszip_options;
        z.payload = laz::build_laszip_record(z.record);
        d.laszip = z;
        for (std::uint64_t left = t.points; left > 0; left -= std::min<std::uint64_t>(left, 50000))
            d.chunks.push_back(
                {static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 50000)), 100});
    }
    return d;
}

// What the plan of one input is expected to be.
struct Expected {
    Coding coding;
    bool transform = false;    // its records change
    bool keeps_box = true;     // its header box goes into the merged one
    std::int64_t x_shift = 0;  // Shift: the steps added to X
};

struct Case {
    const char* what;
    std::vector<Tile> tiles;
    OutputForm form;
    bool fixed_chunks = false;
    bool heads = false;  // the shift candidates' chunk heads lie inside their boxes
    std::vector<Expected> plans;
};

TEST(MergePlan, SchemaAndInputPlans) {
    const Case cases[] = {
        {"LAS tiles on one grid into LAS are copied",
         {{"a.las"}, {"b.las"}},
         OutputForm::Las,
         false,
         false,
         {{Coding::Copy}, {Coding::Copy}}},
        {"a LAS tile whole steps off the first's grid is rewritten",
         {{"a.las"}, {"b.las", 1, false, 30}},
         OutputForm::Las,
         false,
         false,
         {{Coding::Copy}, {Coding::Rewrite, true, false}}},
        {"LAS into LAZ is encoded, LAZ into LAS decoded",
         {{"a.las"}, {"b.laz", 1, true}},
         OutputForm::Laz,
         false,
         false,
         {{Coding::Encode}, {Coding::Copy}}},
        {"LAZ into LAS is decoded",
         {{"a.laz", 1, true}, {"b.las"}},
         OutputForm::Las,
         false,
         false,
         {{Coding::Decode}, {Coding::Copy}}},
        {"a LAZ tile whole steps off, heads inside its box, is shifted",
         {{"a.laz", 1, true}, {"b.laz", 1, true, 30}},
         OutputForm::Laz,
         false,
         true,
         {{Coding::Copy}, {Coding::Shift, false, true, 3000}}},
        {"the same tile without heads is re-encoded with its records moved",
         {{"a.laz", 1, true}, {"b.laz", 1, true, 30}},
         OutputForm::Laz,
         false,
         false,
         {{Coding::Copy}, {Coding::Reencode, true, false}}},
        {"fixed chunks re-encode every LAZ tile",
         {{"a.laz", 1, true}, {"b.laz", 1, true}},
         OutputForm::Laz,
         true,
         false,
         {{Coding::Reencode}, {Coding::Reencode}}},
        {"LAS 1.4 format 6 tiles keep their version and format",
         {{"a.las", 6, false, 0, 100, 4, 1}, {"b.las", 6, false, 0, 5, 4, 1}},
         OutputForm::Laz,
         false,
         false,
         {{Coding::Encode}, {Coding::Encode}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<InputDescription> inputs;
        for (const Tile& t : c.tiles) inputs.push_back(describe(t));
        const std::vector<quillet::GridInput> on_grid = quillet::grid_inputs(inputs);
        const quillet::Result<quillet::GridPlan> grid = quillet::plan_grid(on_grid, false);
        ASSERT_TRUE(grid);
        const quillet::Result<quillet::OutputSchema> decided =
            quillet::decide_schema(inputs, c.form, *grid);
        ASSERT_TRUE(decided) << decided.problem().text;
        const quillet::OutputSchema& schema = *decided;
        const Tile& first = c.tiles.front();
        EXPECT_EQ(schema.format, first.format);
        EXPECT_EQ(schema.minor, first.minor);
        EXPECT_EQ(schema.record_length, korvane::base_record_length(first.format));
        EXPECT_EQ(schema.extra_bytes, 0u);
        EXPECT_EQ(schema.adjusted_gps_time, (first.global_encoding & 1) != 0);
        EXPECT_EQ(schema.scale[0], 0.01);
        EXPECT_EQ(schema.offset[0], first.x_offset);
        std::uint64_t total = 0;
        for (const Tile& t : c.tiles) total += t.points;
        EXPECT_EQ(schema.point_count, total);
        EXPECT_EQ(schema.points_by_return[0], total);

        const std::vector<bool> candidates =
            quillet::shift_candidates(inputs, c.form, c.fixed_chunks, *grid);
        std::vector<std::optional<quillet::ChunkHeads>> heads(inputs.size());
        for (std::size_t i = 0; i < inputs.size(); ++i)
            if (candidates[i] && c.heads)
                heads[i] = quillet::ChunkHeads(inputs[i].chunks.size(), {150000, 150000, 150000});
        const quillet::Result<quillet::CodingPlan> plan =
            quillet::plan_coding(inputs, on_grid, schema, c.fixed_chunks, *grid, heads);
        ASSERT_TRUE(plan) << plan.problem().text;
        ASSERT_EQ(plan->inputs.size(), c.plans.size());
        for (std::size_t i = 0; i < c.plans.size(); ++i) {
            SCOPED_TRACE(c.tiles[i].name);
            const quillet::InputPlan& p = plan->inputs[i];
            EXPECT_EQ(p.coding, c.plans[i].coding);
            EXPECT_EQ(p.transform.has_value(), c.plans[i].transform);
            EXPECT_EQ(p.keeps_box(), c.plans[i].keeps_box);
            EXPECT_EQ(p.shift[0], c.plans[i].x_shift);
            if (p.transform) {
                EXPECT_EQ(p.transform->in_length, inputs[i].record_length);
                EXPECT_EQ(p.transform->out_length, schema.record_length);
            }
        }
        // A LAZ output encodes with the first LAZ tile's record, or its own for the format.
        if (c.form == OutputForm::Laz) {
            EXPECT_EQ(plan->laszip.record_length(), schema.record_length);
            const bool any_laz =
                std::any_of(c.tiles.begin(), c.tiles.end(), [](const Tile& t) { return t.laz; });
            EXPECT_EQ(plan->laszip_source.has_value(), any_laz);
        }
    }
}

// Inputs of other formats and versions: the least format that holds every field, the highest
// version (1.4 for formats 6-8 and past 2^32 - 1 points), and each input copied or rewritten.
TEST(MergePlan, SchemaOfDifferingInputs) {
    constexpr std::uint64_t kBig = 3'000'000'000;
    struct Row {
        const char* what;
        std::vector<Tile> tiles;
        std::uint8_t minor, format;
        std::uint16_t record_length;
        std::vector<Coding> codings;
    };
    const Row rows[] = {
        {"formats 1 and 2 give 3",
         {{"a", 1}, {"b", 2}},
         2,
         3,
         34,
         {Coding::Rewrite, Coding::Rewrite}},
        {"formats 0 and 2 give 2", {{"a", 0}, {"b", 2}}, 2, 2, 26, {Coding::Rewrite, Coding::Copy}},
        {"1.4 format 6 and 1.2 format 1 give 1.4 format 6",
         {{"a", 6, false, 0, 100, 4}, {"b", 1}},
         4,
         6,
         30,
         {Coding::Copy, Coding::Rewrite}},
        {"formats 3 and 6 give 7",
         {{"a", 3, false, 0, 100, 3}, {"b", 6, false, 0, 100, 4}},
         4,
         7,
         36,
         {Coding::Rewrite, Coding::Rewrite}},
        {"formats 7 and 8 give 8",
         {{"a", 7, false, 0, 100, 4}, {"b", 8, false, 0, 100, 4}},
         4,
         8,
         38,
         {Coding::Rewrite, Coding::Copy}},
        {"past 2^32 - 1 points LAS 1.2 becomes 1.4, records copied",
         {{"a", 1, false, 0, kBig}, {"b", 1, false, 0, kBig}},
         4,
         1,
         28,
         {Coding::Copy, Coding::Copy}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<InputDescription> inputs;
        for (const Tile& t : row.tiles) inputs.push_back(describe(t));
        const std::vector<quillet::GridInput> on_grid = quillet::grid_inputs(inputs);
        const quillet::Result<quillet::GridPlan> grid = quillet::plan_grid(on_grid, false);
        ASSERT_TRUE(grid);
        const quillet::Result<quillet::OutputSchema> schema =
            quillet::decide_schema(inputs, OutputForm::Las, *grid);
        ASSERT_TRUE(schema) << schema.problem().text;
        EXPECT_EQ(schema->minor, row.minor);
        EXPECT_EQ(schema->format, row.format);
        EXPECT_EQ(schema->record_length, row.record_length);
        const quillet::Result<quillet::CodingPlan> plan =
            quillet::plan_coding(inputs, on_grid, *schema, false, *grid, {});
        ASSERT_TRUE(plan) << plan.problem().text;
        for (std::size_t i = 0; i < row.codings.size(); ++i) {
            EXPECT_EQ(plan->inputs[i].coding, row.codings[i]) << row.tiles[i].name;
            // A format change keeps the points where they are: the box stays the inputs'.
            EXPECT_TRUE(plan->inputs[i].keeps_box());
        }
    }
}

// `count` extra bytes fields named PREFIX0, PREFIX1, ..., each `size` undocumented bytes.
std::vector<korvane::ExtraBytesField> undocumented(const std::string& prefix, std::size_t count,
                                                   std::uint8_t size) {
    std::vector<std::byte> payload(192 * count, std::byte{0});
    for (std::size_t i = 0; i < count; ++i) {
        payload[192 * i + 3] = std::byte{size};
        const std::string name = prefix + std::to_string(i);
        std::memcpy(payload.data() + 192 * i + 4, name.data(), name.size());
    }
    return std::get<std::vector<korvane::ExtraBytesField>>(korvane::parse_extra_bytes(payload));
}

// A tile whose records carry `fields` after its format's own bytes.
InputDescription with_fields(const Tile& t, std::vector<korvane::ExtraBytesField> fields) {
    InputDescription d = describe(t);
    d.record_length =
        static_cast<std::uint16_t>(d.record_length + korvane::extra_bytes_size(fields));
    d.extra_fields = std::move(fields);
    return d;
}

// What the output's schema refuses, as the one message that names the files.
TEST(MergePlan, SchemaRefusals) {
    struct Row {
        const char* what;
        std::vector<InputDescription> inputs;
        std::string message;
    };
    std::vector<korvane::ExtraBytesField> twice = undocumented("X", 1, 2);
    twice.push_back(twice.front());
    const Row rows[] = {
        {"GPS time of two types, the first file without it",
         {describe({"a", 0, false, 0, 100, 2, 0}), describe({"b", 1, false, 0, 100, 2, 1}),
          describe({"c", 3, false, 0, 100, 2, 0})},
         "\nGPS time of c is GPS week time; the first file with GPS time, b, has adjusted "
         "standard time\n"},
        {"one name twice in one file",
         {with_fields({"a"}, twice), with_fields({"b"}, undocumented("Y", 1, 2))},
         "\na describes two extra bytes fields named X0\n"},
        {"more fields than one record describes",
         {with_fields({"a"}, undocumented("A", 200, 1)),
          with_fields({"b"}, undocumented("B", 200, 1))},
         "\nThe inputs hold 400 extra bytes fields, more than one Extra Bytes record can "
         "describe (341)\n"},
        {"records longer than a header states",
         {with_fields({"a"}, undocumented("A", 170, 255)),
          with_fields({"b"}, undocumented("B", 170, 255))},
         "\nThe merged records would be 86728 bytes long, more than a LAS header can state "
         "(65535)\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::vector<quillet::GridInput> on_grid = quillet::grid_inputs(row.inputs);
        const quillet::Result<quillet::GridPlan> grid = quillet::plan_grid(on_grid, false);
        ASSERT_TRUE(grid);
        const quillet::Result<quillet::OutputSchema> schema =
            quillet::decide_schema(row.inputs, OutputForm::Las, *grid);
        ASSERT_FALSE(schema);
        EXPECT_EQ(schema.problem().status, KORVANE_REFUSED);
        EXPECT_EQ(schema.problem().text, row.message);
    }
}

// What the coding plan refuses, with the words that say which file and why.
TEST(MergePlan, Refusals) {
    struct Refusal {
        const char* what;
        std::vector<Tile> tiles;
        OutputForm form;
        std::string message;
        bool unknown_item = false;  // the first tile's first LASzip item has a version no codec has
    };
    const Refusal cases[] = {
        {"LAZ tiles whose chunks go in as they are must share the first LAZ tile's record",
         {{"a.las"}, {"b.laz", 1, true}, {"c.laz", 1, true, 0, 100, 2, 0, 1}},
         OutputForm::Laz,
         "LASzip options of c.laz is 1; the first LAZ file, b.laz, has 0"},
        {"a LAZ tile whose items the codec lacks cannot be decoded",
         {{"a.laz", 1, true}, {"b.las"}},
         OutputForm::Las,
         "a.laz holds LASzip item",
         true},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<InputDescription> inputs;
        for (const Tile& t : c.tiles) inputs.push_back(describe(t));
        if (c.unknown_item) inputs[0].laszip->record.items[0].version = 9;
        const std::vector<quillet::GridInput> on_grid = quillet::grid_inputs(inputs);
        const quillet::Result<quillet::GridPlan> grid = quillet::plan_grid(on_grid, false);
        ASSERT_TRUE(grid);
        const quillet::Result<quillet::OutputSchema> schema =
            quillet::decide_schema(inputs, c.form, *grid);
        ASSERT_TRUE(schema);
        const quillet::Result<quillet::CodingPlan> plan =
            quillet::plan_coding(inputs, on_grid, *schema, false, *grid, {});
        ASSERT_FALSE(plan);
        EXPECT_EQ(plan.problem().status, KORVANE_REFUSED);
        EXPECT_NE(plan.problem().text.find(c.message), std::string::npos) << plan.problem().text;
    }
}

}  // namespace
