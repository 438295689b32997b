#include "plan/coding_plan.hpp"

#include <cmath>
#include <variant>

#include "las/point_formats.hpp"
#include "las/public_header.hpp"
#include "laz/chunk_codec.hpp"
#include "plan/input_differences.hpp"

namespace quillet {
namespace {

namespace laz = korvane::laz;

// Whether an input's records go into a run of 50,000-point chunks: LAS inputs encoded, and LAZ
// inputs re-encoded with --fixed-chunks. The others keep their chunks.
bool in_run(const CodingPlan& plan, std::size_t i) {
    const Coding c = plan.inputs[i].coding;
    return c == Coding::Encode || (c == Coding::Reencode && plan.runs_across_inputs);
}

// The points of the output's chunks, in order: each input's chunks where it keeps them, and the
// chunks of each run of encoded inputs.
std::vector<std::uint64_t> output_chunk_points(std::span<const InputDescription> inputs,
                                               const CodingPlan& plan) {
    std::vector<std::uint64_t> points;
    std::uint64_t run = 0;
    auto end_run = [&] {
        for (; run >= kEncodedChunkPoints; run -= kEncodedChunkPoints)
            points.push_back(kEncodedChunkPoints);
        if (run > 0) points.push_back(run);
        run = 0;
    };
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (in_run(plan, i)) {
            run += inputs[i].point_count;
            continue;
        }
        end_run();
        for (const korvane::LazChunk& c : inputs[i].chunks) points.push_back(c.points);
    }
    end_run();
    return points;
}

// The chunk size a fixed table can state: 50,000 when the merge encodes in runs, otherwise the
// size that every input keeping its chunks states (one with variable chunks keeps the table
// variable).
std::optional<std::uint32_t> fixed_size(std::span<const InputDescription> inputs,
                                        const CodingPlan& plan) {
    std::optional<std::uint32_t> size;
    for (std::size_t i = 0; i < inputs.size(); ++i)
        if (in_run(plan, i)) return kEncodedChunkPoints;
    for (const InputDescription& d : inputs) {
        const std::uint32_t s = d.laszip->record.chunk_size;
        if (s == laz::kVariableChunkSize || (size && *size != s)) return std::nullopt;
        size = s;
    }
    return size;
}

// "the first file, NAME" when the first LAZ input is the first file, "the first LAZ file, NAME"
// otherwise.
std::string first_laz_name(std::span<const InputDescription> inputs, std::size_t first) {
    std::string text = first == 0 ? "the first file, " : "the first LAZ file, ";
    text += inputs[first].name;
    return text;
}

Problem unlike_first_laz(std::span<const InputDescription> inputs, std::size_t first,
                         std::size_t i) {
    for (const Difference& x : differences(inputs[first], inputs[i])) {
        const bool laszip = x.field == Field::LaszipCompressor || x.field == Field::LaszipCoder ||
                            x.field == Field::LaszipOptions || x.field == Field::LaszipItems;
        if (!laszip) continue;
        return refused(say("\n%s of %s is %s; %s, has %s\n", name_of(x.field),
                           inputs[i].name.c_str(), x.value.c_str(),
                           first_laz_name(inputs, first).c_str(), x.first_value.c_str()));
    }
    return std::nullopt;
}

}  // namespace

const char* action_of(Coding coding) {
    switch (coding) {
        case Coding::Copy:
            return "copied";
        case Coding::Decode:
            return "decoded";
        case Coding::Encode:
            return "encoded";
        case Coding::Reencode:
            return "re-encoded";
        case Coding::Rewrite:
            return "rewritten";
        case Coding::Shift:
            return "shifted";
    }
    return "";
}

std::vector<GridInput> grid_inputs(std::span<const InputDescription> inputs) {
    std::vector<GridInput> on_grid;
    for (const InputDescription& d : inputs) {
        GridInput g;
        g.name = d.name;
        const std::span<const std::byte> h = d.header;
        for (std::size_t a = 0; a < kAxes; ++a) {
            g.scale[a] = korvane::read_field(h, korvane::header::kScale, a);
            g.offset[a] = korvane::read_field(h, korvane::header::kOffset, a);
            g.max[a] = korvane::read_field(h, korvane::header::kBox, 2 * a);
            g.min[a] = korvane::read_field(h, korvane::header::kBox, 2 * a + 1);
        }
        g.has_points = d.point_count != 0;
        on_grid.push_back(g);
    }
    return on_grid;
}

namespace {

// Layered chunks code Z, like X and Y, from the first point; point-wise chunks predict Z from
// zero, so only a re-encoding moves it.
bool shifts_z(const InputDescription& d) {
    return d.laszip && d.laszip->record.compressor == laz::kLayeredChunkedCompressor;
}

// The decoders add modulo 2^32: a shift is safe when the box stays well inside the 32-bit range
// on the output's grid and every chunk's first point lies inside the box (widened by a step).
bool can_shift(const GridInput& in, const std::array<AxisMap, kAxes>& maps, const GridPlan& grid,
               const ChunkHeads& heads, bool z) {
    constexpr long double kReach = 1L << 30;
    for (std::size_t a = 0; a < kAxes; ++a) {
        if (maps[a].d == 0 || (a == 2 && !z)) continue;
        const long double s = grid.scale[a], o = grid.offset[a];
        if (std::fabs((in.max[a] - o) / s) > kReach || std::fabs((in.min[a] - o) / s) > kReach)
            return false;
        const long double lo =
            std::floor((in.min[a] - static_cast<long double>(in.offset[a])) / in.scale[a]) - 1;
        const long double hi =
            std::ceil((in.max[a] - static_cast<long double>(in.offset[a])) / in.scale[a]) + 1;
        for (const auto& head : heads)
            if (head[a] < lo || head[a] > hi) return false;
    }
    return true;
}

// How an input's fields become the output's: nothing when its records already are the output's
// (its format, its length, its extra bytes fields in the output's places). The refusal when a
// field of the output's name is stored otherwise in the input (the schema's union prevents it).
Result<std::optional<Reshape>> reshape_of(const InputDescription& d, const OutputSchema& schema) {
    Reshape r;
    r.in_format = d.format;
    r.out_format = schema.format;
    bool same = d.format == schema.format && d.record_length == schema.record_length;
    if (d.extra_fields == schema.extra_fields) {
        // The same fields in the same places: the extra bytes move as one.
        if (d.extra_bytes() != 0) r.extra.push_back({0, d.extra_bytes(), 0, {}});
    } else {
        korvane::FieldPlacing placing = korvane::place_fields(d.extra_fields, schema.extra_fields);
        if (const auto* m = std::get_if<korvane::PlacementMismatch>(&placing))
            return refused(
                say("\nThe extra bytes field %s of %s cannot be placed in the "
                    "merged records\n",
                    m->name.c_str(), d.name.c_str()));
        r.extra = std::move(std::get<std::vector<korvane::FieldPlacement>>(placing));
        for (const korvane::FieldPlacement& f : r.extra)
            same = same && f.input_offset == f.output_offset;
    }
    if (same) return std::optional<Reshape>();
    return std::optional<Reshape>(std::move(r));
}

// What an input's records need to become the output's: nothing when they go in as they are.
Result<std::optional<RecordTransform>> transform_of(const InputDescription& d, const GridInput& in,
                                                    const GridPlan& grid, std::size_t i,
                                                    const OutputSchema& schema) {
    const bool moved = !grid.identity(i);
    Result<std::optional<Reshape>> reshape = reshape_of(d, schema);
    if (!reshape) return reshape.problem();
    if (!moved && !*reshape) return std::optional<RecordTransform>();
    RecordTransform t;
    t.in_length = d.record_length;
    t.out_length = schema.record_length;
    t.reshape = std::move(*reshape);
    if (moved) t.grid = GridMove{grid.inputs[i], in.scale, in.offset, grid.scale, grid.offset};
    return std::optional<RecordTransform>(std::move(t));
}

}  // namespace

std::vector<bool> shift_candidates(std::span<const InputDescription> inputs, OutputForm form,
                                   bool fixed_chunks, const GridPlan& grid) {
    std::vector<bool> candidates(inputs.size(), false);
    if (form != OutputForm::Laz || fixed_chunks) return candidates;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const InputDescription& d = inputs[i];
        const std::array<AxisMap, kAxes>& maps = grid.inputs[i];
        if (!d.compressed || grid.identity(i)) continue;
        bool whole_steps = true;
        for (std::size_t a = 0; a < kAxes; ++a)
            whole_steps = whole_steps && maps[a].exact && maps[a].k == 1;
        candidates[i] = whole_steps && (maps[2].d == 0 || shifts_z(d));
    }
    return candidates;
}

Result<CodingPlan> plan_coding(std::span<const InputDescription> inputs,
                               std::span<const GridInput> on_grid, const OutputSchema& schema,
                               bool fixed_chunks, GridPlan grid,
                               const std::vector<std::optional<ChunkHeads>>& heads) {
    CodingPlan plan;
    plan.schema = schema;
    plan.grid = std::move(grid);
    plan.runs_across_inputs = fixed_chunks;
    const bool laz_out = schema.form == OutputForm::Laz;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const InputDescription& d = inputs[i];
        InputPlan p;
        Result<std::optional<RecordTransform>> transform =
            transform_of(d, on_grid[i], plan.grid, i, schema);
        if (!transform) return transform.problem();
        p.transform = std::move(*transform);
        const bool changes = p.transform.has_value();
        if (d.compressed && !laz_out) p.coding = Coding::Decode;
        if (d.compressed && laz_out && (fixed_chunks || changes)) p.coding = Coding::Reencode;
        if (!d.compressed && laz_out) p.coding = Coding::Encode;
        if (!d.compressed && !laz_out && changes) p.coding = Coding::Rewrite;
        // Heads are read only for the shift candidates: inputs whose raw coordinates change by
        // whole steps. Their chunks are shifted when nothing else of their records changes.
        if (p.coding == Coding::Reencode && p.transform && p.transform->only_moves() &&
            i < heads.size() && heads[i] &&
            can_shift(on_grid[i], plan.grid.inputs[i], plan.grid, *heads[i], shifts_z(d))) {
            p.coding = Coding::Shift;
            p.transform.reset();
            for (std::size_t a = 0; a < kAxes; ++a) p.shift[a] = plan.grid.inputs[i][a].d;
        }
        plan.inputs.push_back(std::move(p));
    }
    // Every input decoded must have items the codec implements.
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const Coding c = plan.inputs[i].coding;
        if (c != Coding::Decode && c != Coding::Reencode) continue;
        const laz::LaszipRecord& z = inputs[i].laszip->record;
        if (const std::optional<laz::LaszipItem> item = laz::unsupported_item(z))
            return refused(
                say("\n%s holds LASzip item %s version %u, which Quillet cannot decode\n",
                    inputs[i].name.c_str(), laz::item_name(item->type).c_str(),
                    unsigned{item->version}));
    }
    if (!laz_out) return plan;

    // A LAZ output takes the LASzip record of the first LAZ input whose records are the output's
    // (whatever their grid), or Quillet's own for the schema when there is none; the LAZ inputs'
    // chunks that go in as they are (copied or shifted) must share it.
    std::optional<std::size_t> first_laz;
    for (std::size_t i = 0; i < inputs.size() && !first_laz; ++i) {
        const std::optional<RecordTransform>& t = plan.inputs[i].transform;
        if (inputs[i].compressed && (!t || t->only_moves())) first_laz = i;
    }
    if (first_laz)
        for (std::size_t i = *first_laz + 1; i < inputs.size(); ++i) {
            const Coding c = plan.inputs[i].coding;
            if (inputs[i].compressed && (c == Coding::Copy || c == Coding::Shift))
                if (Problem m = unlike_first_laz(inputs, *first_laz, i)) return *m;
        }
    if (first_laz) {
        plan.laszip = inputs[*first_laz].laszip->record;
        plan.laszip_source = first_laz;
    } else {
        plan.laszip =
            laz::standard_laszip_record(schema.format, schema.extra_bytes, kEncodedChunkPoints);
    }
    bool encodes = false;
    for (const InputPlan& p : plan.inputs)
        encodes |= p.coding == Coding::Encode || p.coding == Coding::Reencode;
    if (encodes) {
        if (const std::optional<laz::LaszipItem> item = laz::unsupported_item(plan.laszip)) {
            const std::string name = laz::item_name(item->type);
            if (first_laz)
                return refused(
                    say("\nThe LAS inputs would be compressed with the LASzip items of %s, and "
                        "Quillet cannot encode its item %s version %u\n",
                        inputs[*first_laz].name.c_str(), name.c_str(), unsigned{item->version}));
            return refused(
                say("\nQuillet cannot encode LASzip item %s version %u, which point format %u "
                    "needs\n",
                    name.c_str(), unsigned{item->version}, unsigned{schema.format}));
        }
    }

    const std::vector<std::uint64_t> points = output_chunk_points(inputs, plan);
    plan.chunk_count = points.size();
    const std::optional<std::uint32_t> size = fixed_size(inputs, plan);
    plan.fixed_chunks = size.has_value();
    for (std::size_t k = 0; k + 1 < points.size() && plan.fixed_chunks; ++k)
        plan.fixed_chunks = points[k] == *size;
    plan.laszip.chunk_size = plan.fixed_chunks ? *size : laz::kVariableChunkSize;
    plan.laszip.special_evlr_count = -1;
    plan.laszip.special_evlr_offset = -1;
    plan.laszip_payload = first_laz ? laz::rewrite_laszip_record(inputs[*first_laz].laszip->payload,
                                                                 plan.laszip.chunk_size)
                                    : laz::build_laszip_record(plan.laszip);
    return plan;
}

std::string plan_line(const GridInput& in, const CodingPlan& plan, std::size_t i) {
    std::string line = in.name + ":";
    const char* sep = " ";
    auto add = [&](const std::string& part) {
        line += sep;
        line += part;
        sep = ", ";
    };
    const std::optional<RecordTransform>& t = plan.inputs[i].transform;
    if (t && t->reshape) {
        const Reshape& r = *t->reshape;
        // Appended piece by piece: GCC 12 at -O3 misreads "literal" + std::string.
        if (r.in_format != r.out_format) {
            std::string change = "format ";
            change += std::to_string(r.in_format);
            change += " -> ";
            change += std::to_string(r.out_format);
            add(change);
        }
        std::string added = "extra bytes";
        bool adds = false;
        for (std::size_t f = 0; f < r.extra.size(); ++f) {
            if (r.extra[f].input_offset) continue;
            added += " + ";
            added += plan.schema.extra_fields[f].name;
            adds = true;
        }
        if (adds) add(added);
        if (r.in_format == r.out_format && !adds) add("extra bytes moved");
    }
    for (std::size_t a = 0; a < kAxes; ++a) {
        const AxisMap& m = plan.grid.inputs[i][a];
        if (m.identity() || !in.has_points) continue;
        const std::string axis = axis_name(a);
        const bool scale = in.scale[a] != plan.grid.scale[a];
        const bool offset = in.offset[a] != plan.grid.offset[a];
        std::string change;
        if (scale)
            change =
                axis + "ScaleFactor " + text_of(in.scale[a]) + " -> " + text_of(plan.grid.scale[a]);
        if (offset) {
            if (!change.empty()) change += ", ";
            change +=
                axis + "Offset " + text_of(in.offset[a]) + " -> " + text_of(plan.grid.offset[a]);
        }
        if (!m.exact) {
            char error[32];
            std::snprintf(error, sizeof error, "%.3Lg", m.error);
            change += " (" + axis + " rounded, by up to " + error + ")";
        } else {
            change += " (" + axis;
            if (m.k != 1) change += " x " + std::to_string(m.k);
            if (m.d != 0)
                change +=
                    (m.d > 0 ? " + " : " - ") + std::to_string(m.d > 0 ? m.d : -m.d) + " steps";
            change += ")";
        }
        add(change);
    }
    add(action_of(plan.inputs[i].coding));
    return line;
}

}  // namespace quillet
