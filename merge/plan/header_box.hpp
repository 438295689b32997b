// The box of a merged header: the smallest that encloses the boxes of the headers folded into it.
// The comparisons are strict, so a NaN never replaces an extent and a NaN extent is never
// replaced.
#pragma once

#include <Korvane_LiDAR.h>

#include <array>
#include <cstdint>
#include <optional>

namespace quillet {

// Folds the box of one more file's header into the merged header's box.
inline void enclose_box(LAS12Header& merged, const LAS12Header& next) {
    if (next.MinX < merged.MinX) merged.MinX = next.MinX;
    if (next.MinY < merged.MinY) merged.MinY = next.MinY;
    if (next.MinZ < merged.MinZ) merged.MinZ = next.MinZ;
    if (next.MaxX > merged.MaxX) merged.MaxX = next.MaxX;
    if (next.MaxY > merged.MaxY) merged.MaxY = next.MaxY;
    if (next.MaxZ > merged.MaxZ) merged.MaxZ = next.MaxZ;
}

// A header's six box fields in file order: MaxX MinX MaxY MinY MaxZ MinZ.
using HeaderBox = std::array<double, 6>;

// Widens `box` (or starts it) to enclose the raw extents `lo` to `hi` of points on the grid of
// `scale` and `offset`.
inline void enclose_raw_extent(std::optional<HeaderBox>& box, const std::array<std::int32_t, 3>& lo,
                               const std::array<std::int32_t, 3>& hi,
                               const std::array<double, 3>& scale,
                               const std::array<double, 3>& offset) {
    HeaderBox b;
    for (std::size_t a = 0; a < 3; ++a) {
        b[2 * a] = offset[a] + scale[a] * hi[a];
        b[2 * a + 1] = offset[a] + scale[a] * lo[a];
    }
    if (!box) {
        box = b;
        return;
    }
    for (std::size_t a = 0; a < 3; ++a) {
        if (b[2 * a] > (*box)[2 * a]) (*box)[2 * a] = b[2 * a];
        if (b[2 * a + 1] < (*box)[2 * a + 1]) (*box)[2 * a + 1] = b[2 * a + 1];
    }
}

}  // namespace quillet
