// LAS classification of arbitrary bytes: the code depends on the first 107 bytes only, is the one
// their version, format and record length call for, comes with a message exactly when it is -1,
// and check_las gives the same code for a file holding those bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "file_system.hpp"
#include "fuzz_support.hpp"
#include "las_classify.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    const std::span<const std::byte> head = bytes.first(std::min(size, korvane::kClassifiedBytes));
    const int expected = fuzzing::expected_type_code(head);

    fuzzing::Captured printed;
    const int code = korvane::classify_las_bytes(head, "f.las", printed.file());
    FUZZ_CHECK(code == expected,
               "classified " + std::to_string(code) + ", expected " + std::to_string(expected));
    FUZZ_CHECK((code < 0) == !printed.text().empty(),
               "a message must come exactly with -1: \"" + printed.text() + "\"");

    // Bytes after the first 107 never change the verdict.
    const int whole = korvane::classify_las_bytes(bytes, "f.las", fuzzing::null_output());
    FUZZ_CHECK(whole == code, "the bytes after the classified head changed the code");

    // The same bytes in a file.
    const std::string path = fuzzing::scratch_dir() + "/f.las";
    fuzzing::write_file(path, bytes);
    fuzzing::Captured file_printed;
    const int from_file =
        korvane::check_las(path.c_str(), file_printed.file(), korvane::system_files());
    FUZZ_CHECK(from_file == code, "check_las gave " + std::to_string(from_file) +
                                      ", the bytes classify as " + std::to_string(code));
    FUZZ_CHECK((from_file < 0) == !file_printed.text().empty(),
               "check_las: a message must come exactly with -1");
    return 0;
}
