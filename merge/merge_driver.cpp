#include "merge_driver.hpp"

#include "chunk_pipeline.hpp"
#include "coding_plan.hpp"
#include "command_line.hpp"
#include "credits.hpp"
#include "extended_checks.hpp"
#include "file_checks.hpp"
#include "grid_plan.hpp"
#include "help_text.hpp"
#include "input_checks.hpp"
#include "input_differences.hpp"
#include "merge_job.hpp"
#include "merged_file_writer.hpp"
#include "merged_header.hpp"
#include "message.hpp"
#include "output_guard.hpp"
#include "output_layout.hpp"

namespace quillet {

void usage(std::FILE* out) {
    std::fputs("Usage:\n", out);
    std::fputs("Quillet <ASCII List> <LAS Output>\n\n", out);
    korvane::credits(out);
}

namespace {

// The classic merge: LAS 1.0 to 1.2 with point formats 0 to 3.
bool merge_classic(MergeJob& job, std::FILE* out, korvane::FileSystem& fs, std::FILE* hints) {
    ClassicState state;
    if (!checkInput(job, state, out, fs, hints)) return false;
    if (korvane::check_file_extension(job.outputName.c_str(), "las", out) < 0) {
        print(out, say("\nOutput file should have .las extension\n"));
        return false;
    }
    if (!output_is_distinct(job, out, fs)) return false;
    if (!check_scale_offset_recordlength_consistency(job, out, fs)) return false;
    if (!calc_output_filesize_and_attributes(job, state, out, fs)) return false;

    print(out, say("\n%d files to be merged into %s\n", job.LASCount, job.outputName.c_str()));
    return write_merged_file(job, classic_layout(job, state), 1, out, fs);
}

// The extended merge: LAS 1.0 to 1.4, point formats 0 to 3 and 6 to 8, extra bytes, and LAZ,
// written as LAS or LAZ as the output's name says; chunks of LAZ inputs in a LAZ output are
// copied without being decompressed.
bool merge_extended(MergeJob& job, const CommandLine& command, unsigned threads, std::FILE* out,
                    korvane::FileSystem& fs) {
    if (!check_extended_inputs(job, out, fs)) return false;
    const std::optional<OutputForm> form = output_form(job.outputName, out);
    if (!form) return false;
    if (!output_is_distinct(job, out, fs)) return false;
    Result<GridPlan> grid = plan_grid(grid_inputs(job), command.rescale);
    if (!grid) {
        print(out, grid.problem());
        return false;
    }
    const std::vector<bool> candidates = shift_candidates(job, *form, command.fixed_chunks, *grid);
    Result<std::vector<std::optional<ChunkHeads>>> heads = read_chunk_heads(job, candidates, fs);
    if (!heads) {
        print(out, heads.problem());
        return false;
    }
    Result<CodingPlan> plan = plan_coding(job, *form, command.fixed_chunks, *grid, *heads);
    if (!plan) {
        print(out, plan.problem());
        return false;
    }
    if (!check_extended_total(job, *plan, out)) return false;

    print(out, say("\n%d files to be merged into %s\n", job.LASCount, job.outputName.c_str()));
    if (plan->grid.changes_anything()) {
        const GridPlan& g = plan->grid;
        print(out, say("Output grid: scale factors %s %s %s, offsets %s %s %s%s\n",
                       text_of(g.scale[0]).c_str(), text_of(g.scale[1]).c_str(),
                       text_of(g.scale[2]).c_str(), text_of(g.offset[0]).c_str(),
                       text_of(g.offset[1]).c_str(), text_of(g.offset[2]).c_str(),
                       g.offset_moved ? " (moved to the merged box's centre)" : ""));
        if (command.rescale)
            print(out, say("Rounding moves points by up to %.3Lg in X, %.3Lg in Y, %.3Lg in Z\n",
                           g.rounding[0], g.rounding[1], g.rounding[2]));
    }
    for (std::size_t i = 0; i < job.inputs.size(); ++i)
        if (plan->coding[i] != Coding::Copy)
            print(out, say("%s\n", plan_line(job, *plan, i).c_str()));
    if (command.dry_run) return true;
    return write_merged_file(job, extended_layout(job, *plan), threads, out, fs);
}

}  // namespace

int run(std::span<const char* const> args, std::FILE* out, korvane::FileSystem& fs,
        std::FILE* hints) {
    constexpr int kFailure = -1;
    const CommandLine command = parse_command_line(args);
    switch (command.action) {
        case CommandLine::Action::Help:
            print_help(out);
            return 0;
        case CommandLine::Action::Version:
            print_version(out);
            return 0;
        case CommandLine::Action::Refuse:
            if (!command.unknownOption.empty())
                print(out, say("\nUnknown option %s\n", command.unknownOption.c_str()));
            print(out, say("\nMissing, or excessive number of, arguments\n"));
            usage(out);
            return kFailure;
        case CommandLine::Action::RefuseOption:
            print(out, say("\n%s\n", command.refusal.c_str()));
            usage(out);
            return kFailure;
        case CommandLine::Action::Merge:
            break;
    }
    MergeJob job;
    job.listName = command.listName;
    job.outputName = command.outputName;

    korvane::credits(out);
    const unsigned threads = command.threads != 0 ? command.threads : default_thread_count();
    const bool merged = command.extended ? merge_extended(job, command, threads, out, fs)
                                         : merge_classic(job, out, fs, hints);
    return merged ? 0 : kFailure;
}

}  // namespace quillet
