// The box of a merged header: the smallest that encloses the boxes of the headers folded into it.
// The comparisons are strict, so a NaN never replaces an extent and a NaN extent is never
// replaced.
#pragma once

#include <Korvane_LiDAR.h>

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

}  // namespace quillet
