#include "fuzz_support.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fuzzing {

void fail(const char* file, int line, const char* condition, const std::string& note) {
    std::fprintf(stderr, "\n%s:%d: check failed: %s\n%s\n", file, line, condition, note.c_str());
    std::fflush(stderr);
    std::abort();
}

namespace {

// The directory lives as long as the process; its destructor, run at exit, removes it.
class ScratchDir {
  public:
    ScratchDir() {
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        path_ = (base / ("korvane-fuzz-" + std::to_string(::getpid()))).string();
        std::filesystem::remove_all(path_);
        std::filesystem::create_directory(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace

const std::string& scratch_dir() {
    static const ScratchDir dir;
    return dir.path();
}

void clear_scratch_dir() {
    for (const auto& entry : std::filesystem::directory_iterator(scratch_dir()))
        std::filesystem::remove_all(entry.path());
}

std::vector<std::string> entries_of(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::FILE* null_output() {
    static std::FILE* const sink = std::fopen("/dev/null", "w");
    return sink;
}

Captured::Captured() : file_(::open_memstream(&data_, &size_)) {}

Captured::~Captured() {
    std::fclose(file_);
    std::free(data_);
}

std::string Captured::text() {
    std::fflush(file_);
    return std::string(data_, size_);
}

void write_file(const std::string& path, std::span<const std::byte> bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(f.good(), "cannot write " + path);
}

std::vector<std::byte> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    FUZZ_CHECK(f.good(), "cannot read " + path);
    const std::vector<char> chars((std::istreambuf_iterator<char>(f)),
                                  std::istreambuf_iterator<char>());
    std::vector<std::byte> bytes(chars.size());
    std::transform(chars.begin(), chars.end(), bytes.begin(),
                   [](char c) { return static_cast<std::byte>(c); });
    return bytes;
}

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

std::uint16_t record_length(std::uint8_t format) {
    switch (format) {
        case 0:
            return 20;
        case 1:
            return 28;
        case 2:
            return 26;
        case 3:
            return 34;
        default:
            return 0;
    }
}

int expected_type_code(std::span<const std::byte> head) {
    // The fields, where the file is long enough to hold them.
    auto byte_at = [&](std::size_t at) -> int {
        return at < head.size() ? std::to_integer<int>(head[at]) : -1;
    };
    if (head.size() < 4 || std::memcmp(head.data(), "LASF", 4) != 0) return -1;
    if (byte_at(24) != 1) return -1;
    const int minor = byte_at(25);
    if (minor < 0 || minor > 2) return -1;
    const int format = byte_at(104);
    if (format < 0 || format > 3) return -1;
    if (head.size() < 107) return -1;
    if (minor < 2 && format >= 2) return 0;
    if (field<std::uint16_t>(head, 105) != record_length(static_cast<std::uint8_t>(format)))
        return -1;
    static constexpr int kCodes[3][4] = {{1, 2, 0, 0}, {3, 4, 0, 0}, {5, 6, 7, 8}};
    return kCodes[minor][format];
}

std::vector<std::span<const std::byte>> split(std::span<const std::byte> data,
                                              std::string_view separator, std::size_t max_parts) {
    std::vector<std::span<const std::byte>> parts;
    const auto* sep = reinterpret_cast<const std::byte*>(separator.data());
    while (parts.size() + 1 < max_parts) {
        const auto at = std::search(data.begin(), data.end(), sep, sep + separator.size());
        if (at == data.end()) break;
        const auto n = static_cast<std::size_t>(at - data.begin());
        parts.push_back(data.first(n));
        data = data.subspan(n + separator.size());
    }
    parts.push_back(data);
    return parts;
}

}  // namespace fuzzing
