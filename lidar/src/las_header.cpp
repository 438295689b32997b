#include "las_header.hpp"

#include <cerrno>
#include <cstring>

#include "full_io.hpp"

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
    switch (format) {
        case 0:
            return sizeof(LAS12fm0);
        case 1:
            return sizeof(LAS12fm1);
        case 2:
            return sizeof(LAS12fm2);
        case 3:
            return sizeof(LAS12fm3);
        default:
            return 0;
    }
}

}  // namespace korvane
