// Moving a stretch of one file into another at given offsets: the kernel's file-to-file copy
// where it works, a bounded buffer otherwise.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/status.hpp"
#include "file_system.hpp"

namespace quillet {

// The copy buffer of the fallback path, allocated on first use and kept for later inputs. Its
// size starts at `first_size` bytes and is halved while the allocation fails.
class CopyBuffer {
  public:
    using Allocate = void* (*)(std::size_t);

    static constexpr std::size_t kFirstSize = std::size_t{4} << 20;  // 4 MiB

    explicit CopyBuffer(std::size_t first_size = kFirstSize, Allocate allocate = std::malloc)
        : first_size_(first_size), allocate_(allocate) {}

    // A buffer of at least `min_bytes`, or nullptr when none that large can be had.
    std::byte* get(std::size_t min_bytes);
    std::size_t size() const { return size_; }

  private:
    struct Free {
        void operator()(void* p) const { std::free(p); }
    };
    std::size_t first_size_;
    Allocate allocate_;
    std::unique_ptr<std::byte, Free> data_;
    std::size_t size_ = 0;
};

struct CopyOutcome {
    enum class Kind {
        Done,
        ShortInput,   // the input ended before `length` bytes
        CopyFailed,   // the kernel's copy failed; `error` says why
        ReadFailed,   // the input could not be read
        WriteFailed,  // the output could not be written
        NoBuffer,     // no buffer of one record could be allocated
    };
    Kind kind = Kind::Done;
    int error = 0;  // errno of the failed call
};

// Copies `length` bytes of `in` from `in_at` to `out` at `out_at`. The fallback buffer holds a
// whole number of records of `record_length` bytes.
CopyOutcome copy_bytes(korvane::FileSystem& fs, int in, off_t in_at, int out, off_t out_at,
                       std::uint64_t length, std::uint16_t record_length, CopyBuffer& buffer);

// The failure of a copy of `input` into `output` that did not complete (`unit` the bytes of the
// record a buffer must hold); nothing when it did.
Problem copy_failure(const CopyOutcome& outcome, const std::string& input,
                     const std::string& output, std::uint16_t unit);

}  // namespace quillet
