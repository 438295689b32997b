#include "output_guard.hpp"

#include <sys/stat.h>

#include "file_checks.hpp"
#include "list_file.hpp"
#include "message.hpp"

namespace quillet {
namespace {

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool output_is_distinct(const MergeJob& job, std::FILE* out, korvane::FileSystem& fs) {
    struct stat output {};
    if (fs.stat(job.outputName.c_str(), &output) != 0) return true;  // a new file

    auto is_output = [&](const std::string& name) {
        struct stat st {};
        return fs.stat(name.c_str(), &st) == 0 && same_file(st, output);
    };
    bool clash = !is_standard_input(job.listName) && is_output(job.listName);
    for (const std::string& name : job.names) clash = clash || is_output(name);
    if (clash) {
        korvane::error_msg(3, job.outputName.c_str(), out);
        return false;
    }
    if (!S_ISREG(output.st_mode)) {
        print(out, say("\nCannot open binary file %s for writing\n", job.outputName.c_str()));
        return false;
    }
    return true;
}

}  // namespace quillet
