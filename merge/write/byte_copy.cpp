#include "write/byte_copy.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "full_io.hpp"

namespace quillet {
namespace {

using Kind = CopyOutcome::Kind;

// The kernel copy is not available for this pair of files: the buffered copy takes over.
bool kernel_copy_unsupported(int error) {
    return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP ||
           error == EPERM;
}

// Largest request per kernel call; the kernel caps a single call near 2 GiB anyway.
constexpr std::uint64_t kKernelChunk = std::uint64_t{1} << 30;

CopyOutcome copy_buffered(korvane::FileSystem& fs, int in, off_t in_at, int out, off_t out_at,
                          std::uint64_t length, std::uint16_t record_length, CopyBuffer& buffer) {
    const std::size_t record = std::max<std::size_t>(record_length, 1);
    std::byte* data = buffer.get(record);
    if (data == nullptr) return {Kind::NoBuffer, 0};
    const std::uint64_t block = buffer.size() / record * record;
    while (length > 0) {
        const auto n = static_cast<std::size_t>(std::min(block, length));
        const ssize_t got = korvane::read_full(fs, in, std::span(data, n), in_at);
        if (got < 0) return {Kind::ReadFailed, errno};
        if (static_cast<std::size_t>(got) < n) return {Kind::ShortInput, 0};
        if (!korvane::write_full(fs, out, std::span<const std::byte>(data, n), out_at))
            return {Kind::WriteFailed, errno};
        in_at += static_cast<off_t>(n);
        out_at += static_cast<off_t>(n);
        length -= n;
    }
    return {};
}

}  // namespace

std::byte* CopyBuffer::get(std::size_t min_bytes) {
    if (!data_) {
        std::size_t size = first_size_;
        void* p = nullptr;
        while (size >= min_bytes && (p = allocate_(size)) == nullptr) size /= 2;
        if (p == nullptr) return nullptr;
        data_.reset(static_cast<std::byte*>(p));
        size_ = size;
    }
    return size_ >= min_bytes ? data_.get() : nullptr;
}

CopyOutcome copy_bytes(korvane::FileSystem& fs, int in, off_t in_at, int out, off_t out_at,
                       std::uint64_t length, std::uint16_t record_length, CopyBuffer& buffer) {
    std::uint64_t copied = 0;
    while (copied < length) {
        const auto ask = static_cast<std::size_t>(std::min(kKernelChunk, length - copied));
        const ssize_t n = fs.copy_file_range(in, &in_at, out, &out_at, ask);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (copied == 0 && kernel_copy_unsupported(errno))
                return copy_buffered(fs, in, in_at, out, out_at, length, record_length, buffer);
            return {Kind::CopyFailed, errno};
        }
        if (n == 0) return {Kind::ShortInput, 0};
        copied += static_cast<std::uint64_t>(n);
    }
    return {};
}

Problem copy_failure(const CopyOutcome& outcome, const std::string& input,
                     const std::string& output, std::uint16_t unit) {
    const char* in = input.c_str();
    const char* to = output.c_str();
    switch (outcome.kind) {
        case Kind::Done:
            return std::nullopt;
        case Kind::ShortInput:
            return bad_input(say("\n%s is shorter than its header states\n", in));
        case Kind::CopyFailed:
            return io_error(say("\nCannot copy the points of %s into %s: %s\n", in, to,
                                std::strerror(outcome.error)));
        case Kind::ReadFailed:
            return io_error(say("\nCannot read %s: %s\n", in, std::strerror(outcome.error)));
        case Kind::WriteFailed:
            return io_error(say("\nCannot write %s: %s\n", to, std::strerror(outcome.error)));
        case Kind::NoBuffer:
            return out_of_memory(
                say("\nCannot allocate a copy buffer of one record (%u bytes)\n", unsigned{unit}));
    }
    return std::nullopt;
}

}  // namespace quillet
