#include "las_header.hpp"

#include <cerrno>
#include <cstring>

#include "full_io.hpp"
#include "las/point_formats.hpp"

namespace korvane {

LAS12Header header_from_bytes(const HeaderBytes& bytes) {
    LAS12Header header;
    std::memcpy(&header, bytes.data(), kHeaderBytes);
    return header;
}

HeaderBytes header_to_bytes(const LAS12Header& header) {
    HeaderBytes bytes;
    std::memcpy(bytes.data(), &header, kHeaderBytes);
    return bytes;
}

std::optional<LAS12Header> read_header(FileSystem& fs, int fd) {
    HeaderBytes bytes;
    const ssize_t got = read_full(fs, fd, bytes, 0);
    if (got < 0) return std::nullopt;
    if (static_cast<std::size_t>(got) < kHeaderBytes) {
        errno = 0;
        return std::nullopt;
    }
    return header_from_bytes(bytes);
}

bool write_header(FileSystem& fs, int fd, const LAS12Header& header) {
    const HeaderBytes bytes = header_to_bytes(header);
    return write_full(fs, fd, bytes, 0);
}

std::uint16_t record_length_of_format(std::uint8_t format) {
    return format <= 3 ? base_record_length(format) : 0;
}

static_assert(base_record_length(0) == sizeof(LAS12fm0) &&
              base_record_length(1) == sizeof(LAS12fm1) &&
              base_record_length(2) == sizeof(LAS12fm2) &&
              base_record_length(3) == sizeof(LAS12fm3));

}  // namespace korvane
