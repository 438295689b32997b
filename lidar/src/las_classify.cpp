#include "las_classify.hpp"

#include <Korvane_LiDAR.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <cstring>

#include "file_checks.hpp"
#include "full_io.hpp"
#include "las_header.hpp"
#include "unique_fd.hpp"

namespace korvane {
namespace {

constexpr std::size_t kVersionMajorAt = header::kVersionMajor.offset;
constexpr std::size_t kVersionMinorAt = header::kVersionMinor.offset;
constexpr std::size_t kFormatAt = header::kFormat.offset;
constexpr std::size_t kRecordLengthAt = header::kRecordLength.offset;

std::int16_t not_a_las_file(const char* filename, std::FILE* out) {
    std::fprintf(out, "\n%s is not a valid .las file\n\n", filename);
    return -1;
}

// The LAS type code of a handled version and format: codes 1 to 8 run through
// (1.0, 1.1, 1.2) x (format 0, 1), then 1.2 with formats 2 and 3.
std::int16_t type_code(std::uint8_t minor, std::uint8_t format) {
    if (format <= 1) return static_cast<std::int16_t>(1 + 2 * minor + format);
    return static_cast<std::int16_t>(5 + format);
}

}  // namespace

std::int16_t classify_las_bytes(std::span<const std::byte> head, const char* filename,
                                std::FILE* out) {
    // The fields are judged in file order; a file that ends before the field to be judged is
    // not a LAS file.
    auto byte_at = [&](std::size_t at) { return std::to_integer<std::uint8_t>(head[at]); };

    if (head.size() < 4 || std::memcmp(head.data(), "LASF", 4) != 0)
        return not_a_las_file(filename, out);

    if (head.size() <= kVersionMajorAt) return not_a_las_file(filename, out);
    const std::uint8_t major = byte_at(kVersionMajorAt);
    if (major != 1) {
        std::fprintf(out, "\nCannot handle las files of version %u.x\n", unsigned{major});
        return -1;
    }

    if (head.size() <= kVersionMinorAt) return not_a_las_file(filename, out);
    const std::uint8_t minor = byte_at(kVersionMinorAt);
    if (minor > 2) {
        std::fprintf(out, "\nCannot handle las files of version %u.%u\n", unsigned{major},
                     unsigned{minor});
        return -1;
    }

    if (head.size() <= kFormatAt) return not_a_las_file(filename, out);
    const std::uint8_t format = byte_at(kFormatAt);
    if (format > 3) {
        std::fprintf(out, "\nPointDataFormatID in %s is %u. Only 0, 1, 2, or 3 is accepted\n",
                     filename, unsigned{format});
        return -1;
    }

    if (head.size() < kRecordLengthAt + 2) return not_a_las_file(filename, out);
    const auto length =
        static_cast<std::uint16_t>(byte_at(kRecordLengthAt) | (byte_at(kRecordLengthAt + 1) << 8));

    if (minor < 2 && format >= 2) return 0;  // recognised, not handled
    if (length != record_length_of_format(format)) {
        std::fprintf(out,
                     "\nData format of %s (%u) is incompatible with Length of Data Record (%d)\n",
                     filename, unsigned{format}, length);
        return -1;
    }
    return type_code(minor, format);
}

std::int16_t check_las(const char* filename, std::FILE* out, FileSystem& fs) {
    if (file_access(filename, out, fs) < 0) {
        error_msg(1, filename, out);
        return -1;
    }
    if (check_file_extension(filename, "las", out) < 0) return -1;

    UniqueFd fd(fs, fs.open(filename, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0));
    if (!fd.valid()) return not_a_las_file(filename, out);
    // Directories, FIFOs and devices hold no LAS file, and a FIFO could not be read twice.
    struct stat st {};
    if (fs.fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fprintf(out, "\n%s is not a regular file\n", filename);
        return -1;
    }

    std::array<std::byte, kClassifiedBytes> head{};
    const ssize_t got = read_full(fs, fd.get(), head, 0);
    if (got < 0) return not_a_las_file(filename, out);
    return classify_las_bytes(std::span(head).first(static_cast<std::size_t>(got)), filename, out);
}

}  // namespace korvane

extern "C" int16_t check_las(const char* filename) {
    return korvane::check_las(filename, stdout, korvane::system_files());
}
