#include "merge_fixture.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace testing_support {

const char* const kBanner =
    "\nKorvane LiDAR Utilities"
    "\n\nDeveloped and maintained by the Korvane LiDAR Utilities maintainers"
    "\nthe Korvane LiDAR Utilities project"
    "\nreached through the project's source repository and issue tracker"
    "\n\n** No warranty regarding script behavior is given or implied **"
    "\n** Acknowledging the author's efforts ensures script updates and availability **\n";

Tile make_tile(const std::string& name, std::uint8_t minor, std::uint8_t format, std::size_t count,
               std::uint32_t seed, bool with_vlr) {
    const std::vector<lassynth::Point> points =
        lassynth::random_points(count, seed, static_cast<std::int32_t>(seed) * 1000, 0, 50000);
    return Tile{name, lassynth::make_las(minor, format, points, with_vlr)};
}

std::string write_tiles(const ScratchDir& dir, const std::vector<Tile>& tiles,
                        const std::string& list_name) {
    std::string list;
    for (const Tile& t : tiles) {
        t.file.write(dir / t.name);
        list += t.name + "\n";
    }
    dir.write_text(list_name, list);
    return list_name;
}

std::vector<std::byte> expected_merge(const std::vector<Tile>& tiles) {
    LAS12Header merged = tiles.front().file.header;
    for (std::size_t i = 1; i < tiles.size(); ++i) {
        const LAS12Header& h = tiles[i].file.header;
        if (h.MinX < merged.MinX) merged.MinX = h.MinX;
        if (h.MinY < merged.MinY) merged.MinY = h.MinY;
        if (h.MinZ < merged.MinZ) merged.MinZ = h.MinZ;
        if (h.MaxX > merged.MaxX) merged.MaxX = h.MaxX;
        if (h.MaxY > merged.MaxY) merged.MaxY = h.MaxY;
        if (h.MaxZ > merged.MaxZ) merged.MaxZ = h.MaxZ;
        for (int r = 0; r < 5; ++r) merged.NumberOfPointsByReturn[r] += h.NumberOfPointsByReturn[r];
        merged.NumberOfPointReturns += h.NumberOfPointReturns;
    }
    // The merged file is the header, the first tile's bytes before its points, then every
    // tile's records. The full size is known up front, so each piece is copied into place
    // (GCC 12 at -O3 misreads growing the vector past the 227-byte header with insert and warns
    // with -Warray-bounds).
    const lassynth::LasFile& first = tiles.front().file;
    std::size_t size = sizeof merged + first.between.size();
    for (const Tile& t : tiles) size += t.file.points.size();
    std::vector<std::byte> out(size);
    std::byte* at = out.data();
    const auto put = [&at](const void* from, std::size_t n) {
        if (n != 0) std::memcpy(at, from, n);
        at += n;
    };
    put(&merged, sizeof merged);
    put(first.between.data(), first.between.size());
    for (const Tile& t : tiles) put(t.file.points.data(), t.file.points.size());
    return out;
}

void write_sparse_las(const std::string& path, std::uint8_t minor, std::uint8_t format,
                      std::uint32_t points) {
    lassynth::LasFile f = lassynth::make_las(minor, format, {}, false);
    f.header.NumberOfPointReturns = points;
    f.header.NumberOfPointsByReturn[0] = points;
    f.write(path);
    const off_t size = static_cast<off_t>(f.header.OffsetToData) +
                       static_cast<off_t>(points) * f.header.PointDataRecordLength;
    if (::truncate(path.c_str(), size) != 0) throw std::runtime_error("truncate " + path);
}

ChildResult run_quillet_in(const ScratchDir& dir, const std::vector<std::string>& args,
                           ChildOptions options) {
    options.working_dir = dir.path();
    if (options.timeout_seconds == 0) options.timeout_seconds = 120;
    return run_quillet(args, options);
}

ChildResult run_extended_merge(const ScratchDir& dir, const std::vector<std::string>& names,
                               const std::string& output, std::vector<std::string> options) {
    std::string list;
    for (const std::string& n : names) list += n + "\n";
    dir.write_text("list.txt", list);
    std::filesystem::remove(dir / output);
    options.insert(options.begin(), "--extended");
    options.push_back("list.txt");
    options.push_back(output);
    return run_quillet_in(dir, options);
}

void expect_refused(const ScratchDir& dir, const std::vector<std::string>& args,
                    const std::string& message) {
    const std::vector<std::string> before = list_dir(dir.path());
    const ChildResult r = run_quillet_in(dir, args);
    EXPECT_EQ(r.signal, 0) << "the run was ended by a signal (a hang ends by SIGALRM)";
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.out, kBanner + message);
    EXPECT_EQ(list_dir(dir.path()), before) << "a refused merge must write nothing";
}

}  // namespace testing_support
