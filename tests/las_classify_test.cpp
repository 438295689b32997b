// check_las: the LAS type code of a file and the message of every refusal.
#include "las_classify.hpp"

#include <Korvane_LiDAR.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "captured_output.hpp"
#include "las_synth.hpp"
#include "scratch_dir.hpp"

namespace {

using testing_support::CapturedOutput;
using testing_support::ScratchDir;

struct Classified {
    int code;
    std::string printed;
};

Classified classify(const std::string& path) {
    CapturedOutput out;
    const int code = korvane::check_las(path.c_str(), out.file(), korvane::system_files());
    return {code, out.text()};
}

std::vector<std::byte> las_bytes(std::uint8_t major, std::uint8_t minor, std::uint8_t format,
                                 std::uint16_t length) {
    lassynth::LasFile f = lassynth::make_las(minor, format <= 3 ? format : 0, {}, false);
    f.header.VersionMajor = major;
    f.header.PointDataFormatID = format;
    f.header.PointDataRecordLength = length;
    return f.bytes();
}

TEST(CheckLas, TypeCodesOfVersionsAndFormats) {
    struct Case {
        std::uint8_t minor, format;
        std::uint16_t length;
        int code;
    };
    const Case cases[] = {
        {0, 0, 20, 1},
        {0, 1, 28, 2},
        {1, 0, 20, 3},
        {1, 1, 28, 4},
        {2, 0, 20, 5},
        {2, 1, 28, 6},
        {2, 2, 26, 7},
        {2, 3, 34, 8},
        // Recognised but not handled: silent 0, whatever the record length.
        {0, 2, 26, 0},
        {0, 3, 34, 0},
        {1, 2, 26, 0},
        {1, 3, 99, 0},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        const std::string path = dir / "t.las";
        lassynth::write_bytes(path, las_bytes(1, c.minor, c.format, c.length));
        const Classified r = classify(path);
        EXPECT_EQ(r.code, c.code) << "1." << int{c.minor} << " format " << int{c.format};
        EXPECT_EQ(r.printed, "");
    }
}

TEST(CheckLas, RefusesWhatItCannotHandle) {
    ScratchDir dir;
    const std::string path = dir / "t.las";
    struct Case {
        const char* what;
        std::vector<std::byte> bytes;
        std::string printed;
    };
    std::vector<std::byte> bad_signature = las_bytes(1, 2, 0, 20);
    bad_signature[3] = std::byte{'X'};
    const Case cases[] = {
        {"LAS 1.3", las_bytes(1, 3, 0, 20), "\nCannot handle las files of version 1.3\n"},
        {"LAS 2.0", las_bytes(2, 0, 0, 20), "\nCannot handle las files of version 2.x\n"},
        // Numbers print in decimal, whatever their size.
        {"major 12", las_bytes(12, 0, 0, 20), "\nCannot handle las files of version 12.x\n"},
        {"minor 20", las_bytes(1, 20, 0, 20), "\nCannot handle las files of version 1.20\n"},
        {"format 4", las_bytes(1, 2, 4, 20),
         "\nPointDataFormatID in " + path + " is 4. Only 0, 1, 2, or 3 is accepted\n"},
        {"format 10", las_bytes(1, 2, 10, 67),
         "\nPointDataFormatID in " + path + " is 10. Only 0, 1, 2, or 3 is accepted\n"},
        {"format 131, a compressed format 3", las_bytes(1, 2, 131, 34),
         "\nPointDataFormatID in " + path + " is 131. Only 0, 1, 2, or 3 is accepted\n"},
        {"format 3 of 36 bytes", las_bytes(1, 2, 3, 36),
         "\nData format of " + path + " (3) is incompatible with Length of Data Record (36)\n"},
        {"format 0 of 0 bytes", las_bytes(1, 2, 0, 0),
         "\nData format of " + path + " (0) is incompatible with Length of Data Record (0)\n"},
        {"bad signature", bad_signature, "\n" + path + " is not a valid .las file\n\n"},
    };
    for (const Case& c : cases) {
        lassynth::write_bytes(path, c.bytes);
        const Classified r = classify(path);
        EXPECT_EQ(r.code, -1) << c.what;
        EXPECT_EQ(r.printed, c.printed) << c.what;
    }
}

TEST(CheckLas, FilesTooShortForTheFieldsItReads) {
    // A file that ends before the field being judged is not a LAS file; fields before the end
    // are still judged in file order.
    ScratchDir dir;
    const std::string path = dir / "short.las";
    const std::vector<std::byte> full = las_bytes(1, 2, 1, 28);
    const std::string not_las = "\n" + path + " is not a valid .las file\n\n";
    for (const std::size_t size : {0, 3, 4, 24, 25, 26, 104, 105, 106}) {
        lassynth::write_bytes(path, std::span(full).first(size));
        const Classified r = classify(path);
        EXPECT_EQ(r.code, -1) << size;
        EXPECT_EQ(r.printed, not_las) << size;
    }
    lassynth::write_bytes(path, std::span(full).first(107));
    EXPECT_EQ(classify(path).code, 6) << "107 bytes hold every field read";

    std::vector<std::byte> v13 = las_bytes(1, 3, 0, 20);
    lassynth::write_bytes(path, std::span(v13).first(30));
    EXPECT_EQ(classify(path).printed, "\nCannot handle las files of version 1.3\n");
}

TEST(CheckLas, NamesThatDoNotLeadToALasFile) {
    ScratchDir dir;
    lassynth::write_bytes(dir / "data.LAS", las_bytes(1, 2, 0, 20));
    ::mkdir((dir / "folder.las").c_str(), 0755);
    ::mkfifo((dir / "pipe.las").c_str(), 0644);
    struct Case {
        std::string name;
        std::string printed;
    };
    const Case cases[] = {
        {dir / "missing.las", "Unable to open file " + (dir / "missing.las") +
                                  " in file_access()\n\nFile " + (dir / "missing.las") +
                                  " does NOT exist\n"},
        {dir / "data.LAS", "\nFile extension of " + (dir / "data.LAS") + " is not .las\n"},
        {dir / "folder.las", std::string("\n") + (dir / "folder.las") + " is not a regular file\n"},
        // Opened without waiting for a writer, and refused.
        {dir / "pipe.las", std::string("\n") + (dir / "pipe.las") + " is not a regular file\n"},
    };
    for (const Case& c : cases) {
        const Classified r = classify(c.name);
        EXPECT_EQ(r.code, -1) << c.name;
        EXPECT_EQ(r.printed, c.printed) << c.name;
    }
}

TEST(CheckLas, ClassifiesBytesWithoutAFile) {
    const std::vector<std::byte> bytes = las_bytes(1, 2, 3, 34);
    CapturedOutput out;
    EXPECT_EQ(korvane::classify_las_bytes(std::span(bytes).first(korvane::kClassifiedBytes),
                                          "mem.las", out.file()),
              8);
    EXPECT_EQ(korvane::classify_las_bytes({}, "mem.las", out.file()), -1);
    EXPECT_EQ(out.text(), "\nmem.las is not a valid .las file\n\n");
}

}  // namespace
