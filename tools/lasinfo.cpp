// lasinfo: prints what the public header of a LAS or LAZ file says, for the demo.
//
//   lasinfo FILE.las|FILE.laz
#include <Korvane_LiDAR.h>

#include <cstdio>
#include <cstring>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lasinfo FILE.las|FILE.laz\n");
        return 2;
    }
    std::ifstream f(argv[1], std::ios::binary | std::ios::ate);
    const auto size = static_cast<long long>(f.tellg());
    LAS12Header h;
    f.seekg(0);
    if (!f.read(reinterpret_cast<char*>(&h), sizeof h)) {
        std::fprintf(stderr, "lasinfo: cannot read a LAS header from %s\n", argv[1]);
        return 1;
    }
    char software[33] = {};
    std::memcpy(software, h.GeneratingSoftware, 32);
    std::printf("  file                 %s (%lld bytes)\n", argv[1], size);
    std::printf("  signature, version   %.4s %u.%u\n", h.LASF, unsigned{h.VersionMajor},
                unsigned{h.VersionMinor});
    std::printf("  generating software  %s\n", software);
    std::printf("  point format         %u, %u bytes per record\n", unsigned{h.PointDataFormatID},
                unsigned{h.PointDataRecordLength});
    std::printf("  offset to points     %u (%u variable length records)\n", h.OffsetToData,
                h.NumberOfVariableLengthRecords);
    std::printf("  points               %u\n", h.NumberOfPointReturns);
    std::printf("  by return 1..5       %u %u %u %u %u\n", h.NumberOfPointsByReturn[0],
                h.NumberOfPointsByReturn[1], h.NumberOfPointsByReturn[2],
                h.NumberOfPointsByReturn[3], h.NumberOfPointsByReturn[4]);
    std::printf("  scale x y z          %g %g %g\n", h.XScaleFactor, h.YScaleFactor,
                h.ZScaleFactor);
    std::printf("  offset x y z         %.3f %.3f %.3f\n", h.XOffset, h.YOffset, h.ZOffset);
    std::printf("  x                    %.2f .. %.2f\n", h.MinX, h.MaxX);
    std::printf("  y                    %.2f .. %.2f\n", h.MinY, h.MaxY);
    std::printf("  z                    %.2f .. %.2f\n", h.MinZ, h.MaxZ);
    // LAZ (bit 7 or 6 of the format byte): the points are compressed, in chunks that the chunk
    // table lists; its offset starts the point data.
    if ((h.PointDataFormatID & 0xC0) != 0) {
        long long table = 0;
        f.seekg(h.OffsetToData);
        f.read(reinterpret_cast<char*>(&table), sizeof table);
        const bool inside = f && table > h.OffsetToData && table < size;
        std::printf("  compression          LAZ, point format %u; chunk table at byte %lld%s\n",
                    unsigned{h.PointDataFormatID & 0x3Fu}, table,
                    inside ? ", inside the file" : ", OUTSIDE THE FILE");
        return inside ? 0 : 1;
    }
    const long long expected =
        h.OffsetToData + static_cast<long long>(h.NumberOfPointReturns) * h.PointDataRecordLength;
    std::printf("  size check           %s\n",
                expected == size ? "header and file size agree" : "HEADER AND FILE SIZE DIFFER");
    return expected == size ? 0 : 1;
}
