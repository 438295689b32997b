#include "read/input_recheck.hpp"

#include "read/input_reader.hpp"

namespace quillet {

Problem recheck_input(const InputDescription& checked, int fd, const std::string& output,
                      korvane::FileSystem& fs) {
    const ReadResult now = read_again(checked, fd, checked.name, fs);
    if (now.problem) return *now.problem;
    switch (change_between(checked, now.description)) {
        case Change::None:
            return std::nullopt;
        case Change::PointCount:
            return bad_input(
                say("\nThe inputs changed while they were being merged; %s not written\n",
                    output.c_str()));
        case Change::Other:
            return bad_input(say("\n%s changed while it was being merged\n", checked.name.c_str()));
    }
    return std::nullopt;
}

}  // namespace quillet
