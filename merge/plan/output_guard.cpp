#include "plan/output_guard.hpp"

#include <sys/stat.h>

#include "core/status.hpp"
#include "file_checks.hpp"
#include "read/list_file.hpp"

namespace quillet {
namespace {

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

Problem output_is_distinct(const MergeJob& job, korvane::FileSystem& fs) {
    struct stat output {};
    if (fs.stat(job.outputName.c_str(), &output) != 0) return std::nullopt;  // a new file

    auto is_output = [&](const std::string& name) {
        struct stat st {};
        return fs.stat(name.c_str(), &st) == 0 && same_file(st, output);
    };
    bool clash =
        !job.listName.empty() && !is_standard_input(job.listName) && is_output(job.listName);
    for (const std::string& name : job.names) clash = clash || is_output(name);
    if (clash) return invalid_request({korvane::error_text(3, job.outputName.c_str())});
    if (!S_ISREG(output.st_mode))
        return io_error(say("\nCannot open binary file %s for writing\n", job.outputName.c_str()));
    return std::nullopt;
}

}  // namespace quillet
