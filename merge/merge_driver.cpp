#include "merge_driver.hpp"

#include "command_line.hpp"
#include "credits.hpp"
#include "file_checks.hpp"
#include "help_text.hpp"
#include "input_checks.hpp"
#include "merge_job.hpp"
#include "merged_file_writer.hpp"
#include "merged_header.hpp"
#include "output_guard.hpp"

namespace quillet {

void usage(std::FILE* out) {
    std::fputs("Usage:\n", out);
    std::fputs("Quillet <ASCII List> <LAS Output>\n\n", out);
    korvane::credits(out);
}

int run(std::span<const char* const> args, std::FILE* out, korvane::FileSystem& fs) {
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
                std::fprintf(out, "\nUnknown option %s\n", command.unknownOption.c_str());
            std::fputs("\nMissing, or excessive number of, arguments\n", out);
            usage(out);
            return kFailure;
        case CommandLine::Action::Merge:
            break;
    }
    MergeJob job;
    job.listName = command.listName;
    job.outputName = command.outputName;

    korvane::credits(out);
    if (!checkInput(job, out, fs)) return kFailure;
    if (korvane::check_file_extension(job.outputName.c_str(), "las", out) < 0) {
        std::fputs("\nOutput file should have .las extension\n", out);
        return kFailure;
    }
    if (!output_is_distinct(job, out, fs)) return kFailure;
    if (!check_scale_offset_recordlength_consistency(job, out, fs)) return kFailure;
    if (!calc_output_filesize_and_attributes(job, out, fs)) return kFailure;

    std::fprintf(out, "\n%d files to be merged into %s\n", job.LASCount, job.outputName.c_str());
    if (!write_merged_file(job, out, fs)) return kFailure;
    return 0;
}

}  // namespace quillet
