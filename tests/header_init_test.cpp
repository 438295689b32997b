// Fresh LAS 1.0, 1.1 and 1.2 headers: the bytes written, the bytes left alone, and how the
// classification sees a file that starts with one.
#include <Korvane_LiDAR.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "las_classify.hpp"
#include "las_synth.hpp"
#include "scratch_dir.hpp"

namespace {

using Block = std::array<std::uint8_t, 227>;

// The bytes a fresh header must hold, written out field by field from their file offsets; -1
// marks the bytes that keep what the record held before.
std::array<int, 227> expected_bytes(std::uint8_t minor) {
    std::array<int, 227> e;
    e.fill(0);
    auto put = [&e](std::size_t at, const void* value, std::size_t width) {
        std::array<std::uint8_t, 8> b{};
        std::memcpy(b.data(), value, width);
        for (std::size_t i = 0; i < width; ++i) e[at + i] = b[i];
    };
    for (std::size_t i = 0; i < 4; ++i) e[i] = "LASF"[i];
    for (std::size_t i = 17; i <= 23; ++i) e[i] = -1;
    e[24] = 1;
    e[25] = minor;
    for (std::size_t i = 27; i <= 57; ++i) e[i] = -1;
    const char* software = "Korvane LiDAR Utilities";
    for (std::size_t i = 0; i < 23; ++i) e[58 + i] = static_cast<unsigned char>(software[i]);
    e[81] = 0;
    for (std::size_t i = 82; i <= 89; ++i) e[i] = -1;
    const std::uint16_t header_size = 227;
    const std::uint32_t offset_to_data = 227;
    put(94, &header_size, 2);
    put(96, &offset_to_data, 4);
    const double one = 1.0;
    for (std::size_t at : {131, 139, 147}) put(at, &one, 8);
    return e;
}

template <typename Header>
Block initialized(void (*initialize)(Header*), const Block& start) {
    Header h;
    std::memcpy(&h, start.data(), sizeof h);
    initialize(&h);
    Block out;
    std::memcpy(out.data(), &h, sizeof h);
    return out;
}

// Runs the initializer for LAS 1.minor on a record that starts as `start`.
Block initialized(std::uint8_t minor, const Block& start) {
    switch (minor) {
        case 0:
            return initialized(&initialize_header10, start);
        case 1:
            return initialized(&initialize_header11, start);
        default:
            return initialized(&initialize_header12, start);
    }
}

Block filled(std::uint8_t value) {
    Block b;
    b.fill(value);
    return b;
}

Block pattern() {
    Block b;
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return b;
}

TEST(InitializeHeader, WritesTheTableAndLeavesExactly46Bytes) {
    for (std::uint8_t minor : {0, 1, 2}) {
        SCOPED_TRACE("LAS 1." + std::to_string(minor));
        const std::array<int, 227> expected = expected_bytes(minor);
        for (const Block& start : {filled(0xFF), pattern(), filled(0x00)}) {
            const Block h = initialized(minor, start);
            int kept = 0;
            for (std::size_t i = 0; i < h.size(); ++i) {
                if (expected[i] < 0) {
                    ++kept;
                    EXPECT_EQ(h[i], start[i]) << "byte " << i << " should keep its value";
                } else {
                    EXPECT_EQ(h[i], expected[i]) << "byte " << i;
                }
            }
            EXPECT_EQ(kept, 46);
        }
    }
}

TEST(InitializeHeader, TheThreeDifferOnlyInTheMinorVersion) {
    for (const Block& start : {filled(0xFF), pattern()}) {
        const Block h10 = initialized(0, start);
        const Block h11 = initialized(1, start);
        const Block h12 = initialized(2, start);
        for (std::size_t i = 0; i < h10.size(); ++i) {
            if (i == 25) continue;
            EXPECT_EQ(h10[i], h11[i]) << "byte " << i;
            EXPECT_EQ(h10[i], h12[i]) << "byte " << i;
        }
        EXPECT_EQ(h10[25], 0);
        EXPECT_EQ(h11[25], 1);
        EXPECT_EQ(h12[25], 2);
    }
}

TEST(InitializeHeader, TwiceIsOnce) {
    for (std::uint8_t minor : {0, 1, 2}) {
        const Block once = initialized(minor, pattern());
        EXPECT_EQ(initialized(minor, once), once) << "LAS 1." << int{minor};
    }
}

// A fresh header states point format 0 with a record length of 0, which the classification
// refuses until the length is set.
TEST(InitializeHeader, AFreshHeaderClassifiesOnceItsRecordLengthIsSet) {
    const std::int16_t codes[] = {1, 3, 5};
    for (std::uint8_t minor : {0, 1, 2}) {
        SCOPED_TRACE("LAS 1." + std::to_string(minor));
        testing_support::ScratchDir dir;
        const std::string path = dir / "fresh.las";
        Block h = initialized(minor, filled(0xFF));
        auto classify = [&](std::string& message) {
            lassynth::write_bytes(path, std::as_bytes(std::span(h)));
            char* text = nullptr;
            std::size_t size = 0;
            std::FILE* out = open_memstream(&text, &size);
            const std::int16_t code =
                korvane::check_las(path.c_str(), out, korvane::system_files());
            std::fclose(out);
            message.assign(text, size);
            std::free(text);
            return code;
        };
        std::string message;
        EXPECT_EQ(classify(message), -1);
        EXPECT_EQ(message, "\nData format of " + path +
                               " (0) is incompatible with Length of Data Record (0)\n");
        h[105] = 20;
        EXPECT_EQ(classify(message), codes[minor]);
        EXPECT_EQ(message, "");
    }
}

}  // namespace
