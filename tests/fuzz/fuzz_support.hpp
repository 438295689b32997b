// What the fuzz targets share: a failed check that libFuzzer reports as a crash, a scratch
// directory on a RAM file system for the files a target writes, a sink for messages, and the
// LAS type code that a file's first bytes must receive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzing {

// Prints what went wrong and aborts, so libFuzzer keeps the input that caused it.
[[noreturn]] void fail(const char* file, int line, const char* condition, const std::string& note);

#define FUZZ_CHECK(condition, note)                                              \
    do {                                                                         \
        if (!(condition)) ::fuzzing::fail(__FILE__, __LINE__, #condition, note); \
    } while (false)

// A directory of this process's own, on /dev/shm where there is one, removed at exit.
const std::string& scratch_dir();

// Removes every entry of the scratch directory.
void clear_scratch_dir();

// Names of the entries of a directory, sorted.
std::vector<std::string> entries_of(const std::string& dir);

// A stream that discards what is written to it.
std::FILE* null_output();

// Captures what a function prints.
class Captured {
  public:
    Captured();
    ~Captured();
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;
    std::FILE* file() { return file_; }
    std::string text();

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_ = nullptr;
};

void write_file(const std::string& path, std::span<const std::byte> bytes);
std::vector<std::byte> read_file(const std::string& path);
bool exists(const std::string& path);

// The LAS type code that a file beginning with `head` must be given: 1 to 8 for LAS 1.0/0,
// 1.0/1, 1.1/0, 1.1/1, 1.2/0, 1.2/1, 1.2/2 and 1.2/3 with the matching record length, 0 for
// LAS 1.0 or 1.1 with format 2 or 3, -1 for everything else.
int expected_type_code(std::span<const std::byte> head);

// The record length of point formats 0 to 3; 0 for other formats.
std::uint16_t record_length(std::uint8_t format);

// Little-endian fields at a byte offset.
template <typename T>
T field(std::span<const std::byte> bytes, std::size_t at) {
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// The input split at each occurrence of `separator`, into at most `max_parts` parts (the last
// part keeps the rest, separators included).
std::vector<std::span<const std::byte>> split(std::span<const std::byte> data,
                                              std::string_view separator, std::size_t max_parts);

}  // namespace fuzzing
