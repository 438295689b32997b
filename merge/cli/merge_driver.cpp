#include "cli/merge_driver.hpp"

#include "classic/input_checks.hpp"
#include "classic/merged_header.hpp"
#include "cli/command_line.hpp"
#include "cli/command_merge.hpp"
#include "cli/help_text.hpp"
#include "cli/signal_cleanup.hpp"
#include "core/extended_merge.hpp"
#include "core/merge_job.hpp"
#include "core/merge_report.hpp"
#include "core/message.hpp"
#include "credits.hpp"
#include "file_checks.hpp"
#include "plan/output_guard.hpp"
#include "plan/output_layout.hpp"
#include "read/list_file.hpp"
#include "write/merged_file_writer.hpp"

namespace quillet {

void usage(std::FILE* out) {
    std::fputs("Usage:\n", out);
    std::fputs("Quillet <ASCII List> <LAS Output>\n\n", out);
    korvane::credits(out);
}

namespace {

// The -o form's usage line after a refusal of its arguments (no banner); the failure status.
int output_form_usage(std::FILE* out) {
    print(out, say("Usage: Quillet -o OUTPUT [OPTION]... INPUT...  (Quillet --help tells more)\n"));
    return -1;
}

// The refusal of the arguments: what is wrong, then the usage of the form they are in (the -o
// form's without the banner), or for the -o form with --json its report. The failure status.
int refuse_arguments(const CommandLine& command, std::FILE* out) {
    std::string why;
    if (command.action == CommandLine::Action::RefuseOption)
        why = say("\n%s\n", command.refusal.c_str()).text;
    else if (!command.unknownOption.empty())
        why = say("\nUnknown option %s\n", command.unknownOption.c_str()).text;
    if (command.output_form && command.json) {
        ReportFacts facts;
        facts.status = KORVANE_INVALID_REQUEST;
        facts.message = why;
        facts.output = command.outputName;
        print(out, merge_report(facts));
        return -1;
    }
    print(out, why);
    if (command.output_form) return output_form_usage(out);
    if (command.action == CommandLine::Action::Refuse)
        print(out, say("\nMissing, or excessive number of, arguments\n"));
    usage(out);
    return -1;
}

// What the merge tells, printed as it comes; the temporary output armed for removal on a signal.
MergeEvents printing_to(std::FILE* out) {
    MergeEvents events;
    events.message = [out](Level, std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), out);
        std::fflush(out);
    };
    events.temporary = watch_temporary_output;
    return events;
}

// Prints the failure, if any: true when there was none.
bool printed(const Problem& problem, std::FILE* out) {
    if (problem) print(out, problem->text);
    return !problem;
}

// The classic merge: LAS 1.0 to 1.2 with point formats 0 to 3. Its checks print as they go.
bool merge_classic(MergeJob& job, std::FILE* out, korvane::FileSystem& fs, std::FILE* hints) {
    ClassicState state;
    if (!checkInput(job, state, out, fs, hints)) return false;
    if (korvane::check_file_extension(job.outputName.c_str(), "las", out) < 0) {
        print(out, say("\nOutput file should have .las extension\n"));
        return false;
    }
    if (!printed(output_is_distinct(job, fs), out)) return false;
    if (!check_scale_offset_recordlength_consistency(job, out, fs)) return false;
    if (!calc_output_filesize_and_attributes(job, state, out, fs)) return false;

    print(out, say("\n%d files to be merged into %s\n", job.LASCount, job.outputName.c_str()));
    return printed(write_merged_file(job, classic_layout(job, state), 1, printing_to(out), fs),
                   out);
}

// The extended merge of the listed files, as the library runs it.
bool merge_extended(const CommandLine& command, std::FILE* out, korvane::FileSystem& fs) {
    Result<std::vector<std::string>> names = read_list(command.listName, fs);
    if (!names) return printed(names.problem(), out);
    MergeRequest request;
    request.inputs = std::move(*names);
    request.output = command.outputName;
    request.list_name = command.listName;
    request.threads = command.threads;
    request.rescale = command.rescale;
    request.fixed_chunks = command.fixed_chunks;
    request.dry_run = command.dry_run;
    request.temp_dir = command.temp_dir;
    if (command.memory != 0) request.memory = command.memory;
    const Result<std::uint64_t> merged = run_extended_merge(request, printing_to(out), fs);
    return merged || printed(merged.problem(), out);
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
        case CommandLine::Action::RefuseOption:
            return refuse_arguments(command, out);
        case CommandLine::Action::Merge:
            break;
    }
    if (command.output_form) return run_output_form(command, out, hints, stdin);
    korvane::credits(out);
    if (command.extended) return merge_extended(command, out, fs) ? 0 : kFailure;
    MergeJob job;
    job.listName = command.listName;
    job.outputName = command.outputName;
    return merge_classic(job, out, fs, hints) ? 0 : kFailure;
}

}  // namespace quillet
