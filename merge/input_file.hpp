// Opening a listed input and reading its header, judged against the file's real size: a header
// is used only when the file can hold everything that the header states.
#pragma once

#include <Korvane_LiDAR.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "file_system.hpp"
#include "unique_fd.hpp"

namespace quillet {

struct InputFile {
    korvane::UniqueFd fd;
    LAS12Header header{};

    // Bytes of point data that the header states: NumberOfPointReturns x PointDataRecordLength.
    std::uint64_t point_bytes() const {
        return std::uint64_t{header.NumberOfPointReturns} * header.PointDataRecordLength;
    }
};

// Opens the input for reading; an invalid descriptor when it cannot be opened.
korvane::UniqueFd open_input(const std::string& name, korvane::FileSystem& fs);

// Reads the header of an open input and checks that the file holds the 227-byte header, that
// its point data starts after the header, and that it holds every record the header states.
// Prints a message naming the file and returns nothing when it does not.
std::optional<LAS12Header> read_checked_header(int fd, const std::string& name, std::FILE* out,
                                               korvane::FileSystem& fs);

}  // namespace quillet
