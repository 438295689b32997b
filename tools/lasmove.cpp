// lasmove: moves the grid of a LAS or LAZ file by whole steps, for the benchmarks.
//
//   lasmove FILE STEPS_X STEPS_Y STEPS_Z
//
// Adds STEPS times the scale factor to each axis's offset and to its box, in the file itself:
// the raw values stay, so the points move by those steps on the ground, and the file stays
// consistent. A merge with the unmoved file then shifts it (or re-encodes it) onto the first
// file's grid.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: lasmove FILE STEPS_X STEPS_Y STEPS_Z\n");
        return 2;
    }
    std::fstream f(argv[1], std::ios::in | std::ios::out | std::ios::binary);
    char header[227];
    if (!f.read(header, sizeof header) || std::memcmp(header, "LASF", 4) != 0) {
        std::fprintf(stderr, "lasmove: %s is not a LAS file\n", argv[1]);
        return 1;
    }
    for (int a = 0; a < 3; ++a) {
        const double steps = std::strtod(argv[2 + a], nullptr);
        double scale, offset, max, min;
        std::memcpy(&scale, header + 131 + 8 * a, 8);
        std::memcpy(&offset, header + 155 + 8 * a, 8);
        std::memcpy(&max, header + 179 + 16 * a, 8);
        std::memcpy(&min, header + 187 + 16 * a, 8);
        offset += steps * scale, max += steps * scale, min += steps * scale;
        std::memcpy(header + 155 + 8 * a, &offset, 8);
        std::memcpy(header + 179 + 16 * a, &max, 8);
        std::memcpy(header + 187 + 16 * a, &min, 8);
    }
    f.seekp(0);
    if (!f.write(header, sizeof header)) {
        std::fprintf(stderr, "lasmove: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
