// refresh_header STALE.las FRESH.las
//
// Copies a LAS file and recomputes the copy's header from its point records with
// update_header: the point count, the counts by return and the bounding box. Prints those
// fields as the original states them and as the copy states them afterwards. The original is
// never written. FRESH.las must not exist yet.
//
// update_header ends the process with status 255 after its message when the copy cannot be
// updated; this program's own failures end it with status 1.
//
//   c++ -std=c++17 refresh_header.cpp $(pkg-config --cflags --libs korvane_lidar)
#include <Korvane_LiDAR.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

namespace {

std::optional<LAS12Header> read_header(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    LAS12Header header{};
    if (!in.read(reinterpret_cast<char*>(&header), sizeof header)) return std::nullopt;
    return header;
}

void show(const char* label, const LAS12Header& h) {
    std::printf("%s\n", label);
    std::printf("  points            %u\n", h.NumberOfPointReturns);
    std::printf("  by return 1..5    %u %u %u %u %u\n", h.NumberOfPointsByReturn[0],
                h.NumberOfPointsByReturn[1], h.NumberOfPointsByReturn[2],
                h.NumberOfPointsByReturn[3], h.NumberOfPointsByReturn[4]);
    std::printf("  x                 %.3f .. %.3f\n", h.MinX, h.MaxX);
    std::printf("  y                 %.3f .. %.3f\n", h.MinY, h.MaxY);
    std::printf("  z                 %.3f .. %.3f\n", h.MinZ, h.MaxZ);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: refresh_header STALE.las FRESH.las\n";
        return 2;
    }
    const std::string stale = argv[1];
    const std::string fresh = argv[2];

    const std::optional<LAS12Header> before = read_header(stale);
    if (!before) {
        std::cerr << "refresh_header: cannot read a LAS header from " << stale << "\n";
        return 1;
    }
    std::error_code error;
    if (!std::filesystem::copy_file(stale, fresh, error)) {
        std::cerr << "refresh_header: cannot copy " << stale << " to " << fresh << ": "
                  << error.message() << "\n";
        return 1;
    }

    update_header(fresh.c_str());  // returns only when the header has been rewritten
    std::printf("\n");

    const std::optional<LAS12Header> after = read_header(fresh);
    if (!after) {
        std::cerr << "refresh_header: cannot read the header of " << fresh << " back\n";
        return 1;
    }
    show(("as " + stale + " states it").c_str(), *before);
    show(("recomputed in " + fresh).c_str(), *after);
    return 0;
}
