#include "core/extended_merge.hpp"

#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <limits>
#include <new>

#include "core/merge_job.hpp"
#include "plan/coding_plan.hpp"
#include "plan/extended_checks.hpp"
#include "plan/grid_plan.hpp"
#include "plan/header_box.hpp"
#include "plan/input_differences.hpp"
#include "plan/output_guard.hpp"
#include "plan/output_layout.hpp"
#include "plan/output_schema.hpp"
#include "write/chunk_pipeline.hpp"
#include "write/copc_writer.hpp"
#include "write/merged_file_writer.hpp"
#include "write/octree_builder.hpp"

namespace quillet {
namespace {

// What the merge says of the output's grid when it differs from the first file's.
void tell_grid(const GridPlan& g, bool rescale, const MergeEvents& events) {
    // Why the output's scale is finer than every input's, once for each reason.
    std::string why;
    for (const std::string& reason : g.finer) {
        if (reason.empty() || why.find(reason) != std::string::npos) continue;
        why += why.empty() ? " (" : "; ";
        why += reason;
    }
    if (!why.empty()) why += ')';
    events.inform(say("Output grid: scale factors %s %s %s%s, offsets %s %s %s%s\n",
                      text_of(g.scale[0]).c_str(), text_of(g.scale[1]).c_str(),
                      text_of(g.scale[2]).c_str(), why.c_str(), text_of(g.offset[0]).c_str(),
                      text_of(g.offset[1]).c_str(), text_of(g.offset[2]).c_str(),
                      g.offset_moved ? " (moved to the merged box's centre)" : "")
                      .text);
    if (rescale)
        events.inform(say("Rounding moves points by up to %.3Lg in X, %.3Lg in Y, %.3Lg in Z\n",
                          g.rounding[0], g.rounding[1], g.rounding[2])
                          .text);
}

// What the merge says of the output's schema when it differs from the first file's.
std::optional<Message> schema_line(const InputDescription& first, const OutputSchema& schema) {
    if (schema.minor == first.minor && schema.format == first.format &&
        schema.record_length == first.record_length)
        return std::nullopt;
    std::string fields;
    for (const korvane::ExtraBytesField& f : schema.extra_fields) {
        fields += fields.empty() ? ", extra bytes " : ", ";
        fields += f.name;
    }
    return say("Output: LAS 1.%u, point format %u, record length %u%s\n", unsigned{schema.minor},
               unsigned{schema.format}, unsigned{schema.record_length}, fields.c_str());
}

// What the merge says of the output's coordinate system when it is not the first file's as it is.
void tell_crs(const InputDescription& first, const OutputSchema& schema,
              const MergeEvents& events) {
    if (!schema.crs.wkt.empty())
        events.inform(say("Coordinate system: %s, for the GeoTIFF keys of %s\n",
                          schema.crs.source.c_str(), first.name.c_str())
                          .text);
    if (schema.crs.keys_kept)
        events.warn(say("\nWARNING: The GeoTIFF keys of the first file, %s, name no coordinate "
                        "system that PROJ knows by its EPSG codes: the merged file of point "
                        "format %u keeps them, not WKT as LAS 1.4 asks\n",
                        first.name.c_str(), unsigned{schema.format})
                        .text);
}

// The file that stages a cloud optimised output's points as LAS; removed when the merge ends,
// whatever the outcome.
class StagingFile {
  public:
    // In `dir` when it is not empty, else beside the output.
    StagingFile(const std::string& output, const std::string& dir, korvane::FileSystem& fs)
        : name_(staging_name(output, dir)), fs_(fs) {}
    ~StagingFile() { remove(); }
    StagingFile(const StagingFile&) = delete;
    StagingFile& operator=(const StagingFile&) = delete;
    const std::string& name() const { return name_; }
    void remove() { fs_.unlink(name_.c_str()); }

  private:
    static std::string staging_name(const std::string& output, const std::string& dir) {
        std::string name = output;
        if (!dir.empty()) {
            const std::size_t slash = output.find_last_of('/');
            name = dir;
            if (!name.ends_with('/')) name += '/';
            name += slash == std::string::npos ? output : output.substr(slash + 1);
        }
        name += say(".Quillet-%ld-staged.las", static_cast<long>(::getpid())).text;
        return name;
    }

    std::string name_;
    korvane::FileSystem& fs_;
};

// The directory where a cloud optimised output's points are staged: --temp-dir, else $TMPDIR,
// else "" (beside the output).
std::string staging_dir(const MergeRequest& request) {
    if (!request.temp_dir.empty()) return request.temp_dir;
    const char* tmpdir = std::getenv("TMPDIR");
    return tmpdir != nullptr ? tmpdir : "";
}

// The directory itself: the output's when the points are staged beside it.
std::string directory_of_staging(const MergeRequest& request) {
    if (std::string dir = staging_dir(request); !dir.empty()) return dir;
    const std::size_t slash = request.output.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : request.output.substr(0, slash);
}

// A merge into cloud optimised LAZ, in two passes on one progress scale of twice the points: the
// merged points staged as LAS on the output's grid and schema, then made an octree and written.
Problem write_cloud_optimised(MergeJob& job, const OutputLayout& layout, std::uint64_t points,
                              const MergeRequest& request, unsigned threads,
                              const MergeEvents& events, korvane::FileSystem& fs) {
    const std::string output = job.outputName;
    StagingFile staging(output, staging_dir(request), fs);
    MergeEvents first = events;
    first.progress = [&events](std::uint64_t done, std::uint64_t all) {
        return events.go_on(done, 2 * all);
    };
    job.outputName = staging.name();
    Problem p = write_merged_file(job, layout, threads, first, fs);
    job.outputName = output;
    if (p) return p;
    // Opened, then its name removed at once: the file lasts as long as it is open, and a signal
    // finds at most the output's temporary file to remove, which the writer arms.
    if (events.temporary) events.temporary(staging.name());
    Result<StagedPoints> staged = open_staged_points(staging.name(), fs);
    staging.remove();
    if (events.temporary) events.temporary("");
    if (!staged) return staged.problem();
    CopcSettings settings;
    settings.threads = threads;
    settings.memory = request.memory;
    settings.temp_dir = directory_of_staging(request);
    settings.progress = {points, 2 * points};
    return write_copc(std::move(*staged), output, settings, events, fs);
}

// The union of the boxes that the headers of the inputs with points state (min x y z, max x y
// z); nothing when no input has points.
std::optional<std::array<double, 6>> headers_box(std::span<const InputDescription> inputs) {
    std::optional<LAS12Header> box;
    for (const InputDescription& d : inputs) {
        if (d.point_count == 0) continue;
        if (box)
            enclose_box(*box, d.base);
        else
            box = d.base;
    }
    if (!box) return std::nullopt;
    return std::array<double, 6>{box->MinX, box->MinY, box->MinZ, box->MaxX, box->MaxY, box->MaxZ};
}

// What the merge says of a cloud optimised output: where its points are staged and the space
// they take there, the octree's rules, cube and likely depth (from the inputs' header boxes), and
// the memory it is built in.
void tell_octree(std::span<const InputDescription> inputs, const OutputSchema& schema,
                 std::uint64_t points, const MergeRequest& request, const MergeEvents& events) {
    const OctreeRules rules;
    const std::optional<std::array<double, 6>> box = headers_box(inputs);
    double min_half = 0;
    for (const double scale : schema.scale) min_half = std::max(min_half, scale);
    // The cube the header boxes give (that of the points themselves once they are staged).
    const OctreeCube cube = octree_cube(box.value_or(std::array<double, 6>{}), min_half);
    const int depth = box ? estimate_octree_depth(*box, points, cube, rules) : 0;
    const std::uint64_t staged = points * schema.record_length;
    const bool in_memory = !octree_needs_files(points, schema.record_length, request.memory);
    const std::string dir = staging_dir(request);
    events.inform(say("Cloud optimised LAZ: the points staged as LAS %s%s (%llu bytes%s), then "
                      "an octree of %d cells a side per node and at most %u points a leaf, in a "
                      "cube of half size %.10g centred on %.10g %.10g %.10g, about %d level%s "
                      "deep, each node "
                      "one chunk, built in at most %llu bytes of memory\n",
                      dir.empty() ? "beside the output" : "in ", dir.c_str(),
                      static_cast<unsigned long long>(staged),
                      in_memory ? "" : ", and as much again while the octree is built", kCopcCells,
                      rules.leaf_points, cube.half_size, cube.centre[0], cube.centre[1],
                      cube.centre[2], depth + 1, depth == 0 ? "" : "s",
                      static_cast<unsigned long long>(request.memory))
                      .text);
}

// The inputs described, with their point counts.
void summarise_inputs(std::span<const InputDescription> inputs, MergeSummary& summary) {
    summary.inputs.clear();
    for (const InputDescription& d : inputs) summary.inputs.push_back({d.name, d.point_count, {}});
}

// The schema, the box and each input's action.
void summarise_plan(std::span<const InputDescription> inputs, const CodingPlan& plan,
                    MergeSummary& summary) {
    summary.schema = plan.schema;
    for (std::size_t i = 0; i < inputs.size(); ++i)
        summary.inputs[i].action = action_of(plan.inputs[i].coding);
    if (const std::optional<std::array<double, 6>> box = headers_box(inputs)) summary.box = *box;
}

Result<std::uint64_t> merge(const MergeRequest& request, const MergeEvents& events,
                            korvane::FileSystem& fs, MergeSummary& summary) {
    MergeJob job;
    job.listName = request.list_name;
    job.outputName = request.output;
    job.names = request.inputs;

    const Problem checked = check_extended_inputs(job, events, fs);
    summarise_inputs(job.inputs, summary);
    if (checked) return *checked;
    const std::span<const InputDescription> inputs = job.inputs;
    const Result<OutputForm> form = output_form(job.outputName);
    if (!form) return form.problem();
    if (request.fixed_chunks && *form != OutputForm::Laz)
        return invalid_request(say("\n--fixed-chunks needs a .laz output\n"));
    if (Problem p = output_is_distinct(job, fs)) return *p;
    const std::vector<GridInput> on_grid = grid_inputs(inputs);
    const Result<GridPlan> grid = plan_grid(on_grid, request.rescale);
    if (!grid) return grid.problem();
    const Result<OutputSchema> schema = decide_schema(inputs, *form, *grid);
    if (!schema) return schema.problem();
    const std::vector<bool> candidates =
        shift_candidates(inputs, *form, request.fixed_chunks, *grid);
    const Result<std::vector<std::optional<ChunkHeads>>> heads =
        read_chunk_heads(inputs, candidates, fs);
    if (!heads) return heads.problem();
    const Result<CodingPlan> plan =
        plan_coding(inputs, on_grid, *schema, request.fixed_chunks, *grid, *heads);
    if (!plan) return plan.problem();
    summarise_plan(inputs, *plan, summary);
    const Result<Total> total = check_extended_total(inputs, *plan);
    if (!total) return total.problem();
    // Not tried yet: a node at the deepest level could then hold more points than a hierarchy
    // entry's 32-bit count, and a test at that size takes too long.
    if (*form == OutputForm::Copc && total->points > std::numeric_limits<std::uint32_t>::max())
        return refused(
            say("\nA cloud optimised output of more than 4,294,967,295 points is not "
                "written yet: these inputs hold %llu\n",
                static_cast<unsigned long long>(total->points)));

    events.account(total->line.text);
    events.account(
        say("\n%d files to be merged into %s\n", job.LASCount, job.outputName.c_str()).text);
    if (std::optional<Message> line = schema_line(inputs.front(), *schema))
        events.inform(line->text);
    tell_crs(inputs.front(), *schema, events);
    if (plan->grid.changes_anything()) tell_grid(plan->grid, request.rescale, events);
    for (std::size_t i = 0; i < inputs.size(); ++i)
        if (plan->inputs[i].coding != Coding::Copy)
            events.inform(plan_line(on_grid[i], *plan, i) + "\n");
    if (*form == OutputForm::Copc) tell_octree(inputs, *schema, total->points, request, events);
    if (request.dry_run) return std::uint64_t{0};

    const unsigned threads = request.threads != 0 ? request.threads : default_thread_count();
    if (*form == OutputForm::Copc) {
        if (Problem p = write_cloud_optimised(job, extended_layout(inputs, *plan), total->points,
                                              request, threads, events, fs))
            return *p;
        return total->points;
    }
    if (Problem p = write_merged_file(job, extended_layout(inputs, *plan), threads, events, fs))
        return *p;
    return total->points;
}

}  // namespace

Result<std::uint64_t> run_extended_merge(const MergeRequest& request, const MergeEvents& events,
                                         korvane::FileSystem& fs, MergeSummary* summary) {
    MergeSummary unused;
    // Every file the merge opened or made is closed or removed by its owner on the way out.
    try {
        return merge(request, events, fs, summary != nullptr ? *summary : unused);
    } catch (const std::bad_alloc&) {
        return out_of_memory(say("\nNot enough memory to merge into %s\n", request.output.c_str()));
    } catch (const std::exception& e) {
        return io_error(say("\nCannot merge into %s: %s\n", request.output.c_str(), e.what()));
    }
}

}  // namespace quillet
