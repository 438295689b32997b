#include "read/input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "las_header.hpp"

namespace quillet {

korvane::UniqueFd open_input(const std::string& name, korvane::FileSystem& fs) {
    return korvane::UniqueFd(fs, fs.open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0));
}

Result<LAS12Header> read_checked_header(int fd, const std::string& name, korvane::FileSystem& fs) {
    using ull = unsigned long long;
    const char* file = name.c_str();
    struct stat st {};
    if (fs.fstat(fd, &st) != 0)
        return io_error(say("\nCannot read %s: %s\n", file, std::strerror(errno)));
    if (!S_ISREG(st.st_mode)) return bad_input(say("\n%s is not a regular file\n", file));
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size < korvane::kHeaderBytes)
        return bad_input(
            say("\n%s is too short to hold a LAS header (%llu bytes)\n", file, ull{size}));
    const std::optional<LAS12Header> header = korvane::read_header(fs, fd);
    if (!header)
        return Failure{errno != 0 ? KORVANE_IO_ERROR : KORVANE_BAD_INPUT,
                       say("\nCannot read %s: %s\n", file,
                           errno != 0 ? std::strerror(errno) : "the file ended inside its header")
                           .text};
    if (header->OffsetToData < korvane::kHeaderBytes)
        return bad_input(say("\nOffsetToData of %s (%u) lies inside its 227-byte header\n", file,
                             header->OffsetToData));
    const std::uint64_t needed =
        std::uint64_t{header->OffsetToData} +
        std::uint64_t{header->NumberOfPointReturns} * header->PointDataRecordLength;
    if (size < needed)
        return bad_input(
            say("\n%s is shorter than its header states: %u points of %u bytes from offset %u need "
                "%llu bytes, the file has %llu\n",
                file, header->NumberOfPointReturns, unsigned{header->PointDataRecordLength},
                header->OffsetToData, ull{needed}, ull{size}));
    return *header;
}

Failure read_failure(const std::string& name, ssize_t got) {
    if (got < 0) return io_error(say("\nCannot read %s: %s\n", name.c_str(), std::strerror(errno)));
    return bad_input(say("\nCannot read %s: %s\n", name.c_str(), "the file ended early"));
}

}  // namespace quillet
