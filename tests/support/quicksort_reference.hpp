// The index-carrying quicksort as first written, kept as the reference that the library's sorts
// must match byte for byte: middle pivot value copied once, scans bounded by the range, exchange
// while i <= j, then the lower sub-range by a nested call and the upper one by continuing in the
// same invocation. Its nesting grows with the input on unfavourable keys, which is why the
// library does not nest this way; `depth`, when given, records how deeply it nests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace testing_support {

// How deeply the reference's calls nest, and how much stack that nesting spans.
struct Depth {
    int current = 0;
    int max = 0;
    std::uintptr_t outermost_frame = 0;
    std::uintptr_t deepest_frame = 0;

    void enter(std::uintptr_t frame) {
        if (++current == 1) outermost_frame = deepest_frame = frame;
        max = std::max(max, current);
        deepest_frame = std::min(deepest_frame, frame);
    }
    std::size_t stack_bytes() const { return outermost_frame - deepest_frame; }
};

template <typename Key>
void reference_qs(Key* p, std::int32_t left, std::int32_t right, std::int32_t* p_ind,
                  Depth* depth = nullptr) {
    if (depth != nullptr)
        depth->enter(reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)));
    for (;;) {
        const Key v = p[(left + right) / 2];
        std::int32_t i = left;
        std::int32_t j = right;
        do {
            while (p[i] < v && i < right) i++;
            while (p[j] > v && j > left) j--;
            if (i <= j) {
                std::swap(p[i], p[j]);
                std::swap(p_ind[i], p_ind[j]);
                i++;
                j--;
            }
        } while (i <= j);
        if (left < j) reference_qs(p, left, j, p_ind, depth);
        if (!(i < right)) break;
        left = i;
    }
    if (depth != nullptr) --depth->current;
}

}  // namespace testing_support
