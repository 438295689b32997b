#include "input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "las_header.hpp"

namespace quillet {

korvane::UniqueFd open_input(const std::string& name, korvane::FileSystem& fs) {
    return korvane::UniqueFd(fs, fs.open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0));
}

std::optional<LAS12Header> read_checked_header(int fd, const std::string& name, std::FILE* out,
                                               korvane::FileSystem& fs) {
    struct stat st {};
    if (fs.fstat(fd, &st) != 0) {
        std::fprintf(out, "\nCannot read %s: %s\n", name.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        std::fprintf(out, "\n%s is not a regular file\n", name.c_str());
        return std::nullopt;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size < korvane::kHeaderBytes) {
        std::fprintf(out, "\n%s is too short to hold a LAS header (%llu bytes)\n", name.c_str(),
                     static_cast<unsigned long long>(size));
        return std::nullopt;
    }
    const std::optional<LAS12Header> header = korvane::read_header(fs, fd);
    if (!header) {
        std::fprintf(out, "\nCannot read %s: %s\n", name.c_str(),
                     errno != 0 ? std::strerror(errno) : "the file ended inside its header");
        return std::nullopt;
    }
    if (header->OffsetToData < korvane::kHeaderBytes) {
        std::fprintf(out, "\nOffsetToData of %s (%u) lies inside its 227-byte header\n",
                     name.c_str(), header->OffsetToData);
        return std::nullopt;
    }
    const std::uint64_t needed =
        std::uint64_t{header->OffsetToData} +
        std::uint64_t{header->NumberOfPointReturns} * header->PointDataRecordLength;
    if (size < needed) {
        std::fprintf(out,
                     "\n%s is shorter than its header states: %u points of %u bytes from offset %u "
                     "need %llu bytes, the file has %llu\n",
                     name.c_str(), header->NumberOfPointReturns,
                     unsigned{header->PointDataRecordLength}, header->OffsetToData,
                     static_cast<unsigned long long>(needed),
                     static_cast<unsigned long long>(size));
        return std::nullopt;
    }
    return header;
}

}  // namespace quillet
