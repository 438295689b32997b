// Index-carrying quicksorts: keys are sorted ascending in place and every exchange made on the
// keys is made on p_ind too, so p_ind[k] ends holding the entry that travelled with key k.
//
// The partition is the classic middle-pivot one: the pivot value is a copy of the middle key,
// both scans stop at keys equal to the pivot (strict comparisons, so NaN keys stop them too), and
// a sub-range is left..j below and i..right above. One generic worker serves both key types and
// both shapes: the plain sort is the depth-counting sort with a budget that never runs out.
#include <Korvane_LiDAR.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace korvane {
namespace {

// Positions are kept in 64 bits so that i and j may step one past a bound at either end of the
// 32-bit range, and so that the middle is the truncated half of left + right without overflow.
using Pos = std::ptrdiff_t;

// A budget below zero never reaches zero: the plain sort.
constexpr std::int32_t kNoBudget = -1;

// The budget of the sub-ranges of a level sorted with `deep`: one level less while it lasts;
// once it is spent (0) they go to the plain sort; a negative budget stays as it is (it would
// never reach 0 by counting down either, and this way it cannot wrap around).
constexpr std::int32_t next_budget(std::int32_t deep) {
    if (deep > 0) return deep - 1;
    return deep == 0 ? kNoBudget : deep;
}

template <typename Key>
void exchange(Key* p, std::int32_t* p_ind, Pos a, Pos b) {
    std::swap(p[a], p[b]);
    std::swap(p_ind[a], p_ind[b]);
}

// How many keys the block stage of a partition looks at on each side at a time.
constexpr Pos kBlock = 64;

// The partition's scans stop at the keys that are not below the pivot (from the left) and at
// those that are not above it (from the right), and exchange the k-th stop from the left with
// the k-th stop from the right for as long as the two do not cross. While the keys not looked at
// yet span at least two blocks, the stops of a whole block on each side are collected first,
// without a branch per key (a branch that random keys make unpredictable), and then exchanged
// pairwise in the same order: every stop collected on the left lies below every stop collected
// on the right, so each pair is one the scans exchange, and the keys still to be scanned are
// untouched. Stops left over when the stage ends are simply found again by the scans that
// follow. On return, i and j are where the scans would continue after the last exchange made.
template <typename Key>
void exchange_blocks(Key* p, std::int32_t* p_ind, const Key v, Pos& i, Pos& j) {
    std::array<std::uint8_t, kBlock> lo_stop{};  // offsets of the stops in the block at lo_base
    std::array<std::uint8_t, kBlock> hi_stop{};  // offsets below hi_base
    Pos lo_base = 0, lo_first = 0, lo_count = 0;
    Pos hi_base = 0, hi_first = 0, hi_count = 0;
    Pos lo = i, hi = j;  // the keys not looked at yet
    while (hi - lo + 1 >= 2 * kBlock) {
        if (lo_count == 0) {
            lo_base = lo;
            lo_first = 0;
            for (Pos k = 0; k < kBlock; ++k) {
                lo_stop[static_cast<std::size_t>(lo_count)] = static_cast<std::uint8_t>(k);
                lo_count += !(p[lo + k] < v);
            }
            lo += kBlock;
        }
        if (hi_count == 0) {
            hi_base = hi;
            hi_first = 0;
            for (Pos k = 0; k < kBlock; ++k) {
                hi_stop[static_cast<std::size_t>(hi_count)] = static_cast<std::uint8_t>(k);
                hi_count += !(p[hi - k] > v);
            }
            hi -= kBlock;
        }
        const Pos pairs = std::min(lo_count, hi_count);
        for (Pos k = 0; k < pairs; ++k) {
            const Pos a = lo_base + lo_stop[static_cast<std::size_t>(lo_first + k)];
            const Pos b = hi_base - hi_stop[static_cast<std::size_t>(hi_first + k)];
            exchange(p, p_ind, a, b);
            i = a + 1;
            j = b - 1;
        }
        lo_first += pairs;
        lo_count -= pairs;
        hi_first += pairs;
        hi_count -= pairs;
    }
}

// Partitions left..right (left < right) around a copy of its middle key and returns the final
// scan positions {i, j}: left..j holds no key above the pivot, i..right no key below it.
//
// The scans need no bound checks: before the first exchange the pivot's own slot stops both
// (v < v and v > v are false, NaN included), and after an exchange at a < b the key moved to b
// stops the next scan from the left and the key moved to a the next scan from the right. So i
// never passes right nor j left, and both stop where bound-checked scans would.
template <typename Key>
std::pair<Pos, Pos> partition(Key* p, std::int32_t* p_ind, Pos left, Pos right) {
    // The truncated half of left + right, equal to its 32-bit value wherever that sum fits.
    const Key v = p[(left + right) / 2];
    Pos i = left;
    Pos j = right;
    exchange_blocks(p, p_ind, v, i, j);
    while (i <= j) {
        while (p[i] < v) ++i;
        while (p[j] > v) --j;
        if (i <= j) exchange(p, p_ind, i++, j--);
    }
    return {i, j};
}

// Sorts the inclusive range left..right of p, exchanging p_ind along.
//
// A partition leaves two disjoint sub-ranges, left..j and i..right, each of which is then
// partitioned on its own keys only. Sorting one of them can neither read nor move anything in
// the other, so the order in which they are sorted does not change either array: sorting the
// lower one first (nesting a call) and then the upper one (iterating), or the other way round,
// ends with the same bytes. The worker therefore nests the call for the SMALLER sub-range and
// iterates on the larger one, which bounds the nesting depth by log2(n) whatever the input,
// where nesting always on the lower sub-range grows one level per partition on inputs that
// drive the middle pivot to the top of every range. Both sub-ranges of a level are one
// partition level deeper than their parent, so the budget they receive is the same whichever
// is sorted first.
template <typename Key>
void sort_range(Key* p, std::int32_t* p_ind, Pos left, Pos right, std::int32_t deep) {
    while (left < right) {
        const auto [i, j] = partition(p, p_ind, left, right);
        deep = next_budget(deep);
        // Empty or single-element sub-ranges need no call: the loop test skips them.
        if (j - left < right - i) {
            sort_range(p, p_ind, left, j, deep);
            left = i;
        } else {
            sort_range(p, p_ind, i, right, deep);
            right = j;
        }
    }
}

template <typename Key>
void sort_all(Key* p, std::int32_t count, std::int32_t* p_ind, std::int32_t deep) {
    sort_range(p, p_ind, 0, Pos{count} - 1, deep);
}

// The depth budget the whole-array depth-counting entries start from: the top sixteen levels of
// partitioning (budgets 15 down to 0) are counted.
constexpr std::int32_t kEntryBudget = 15;

}  // namespace
}  // namespace korvane

extern "C" {

void l_qs(int32_t* p, int32_t left, int32_t right, int32_t* p_ind) {
    korvane::sort_range(p, p_ind, left, right, korvane::kNoBudget);
}

void l_quicksort(int32_t* p, int32_t count, int32_t* p_ind) {
    korvane::sort_all(p, count, p_ind, korvane::kNoBudget);
}

void d_qs(double* p, int32_t left, int32_t right, int32_t* p_ind) {
    korvane::sort_range(p, p_ind, left, right, korvane::kNoBudget);
}

void d_quicksort(double* p, int32_t count, int32_t* p_ind) {
    korvane::sort_all(p, count, p_ind, korvane::kNoBudget);
}

void l_parallel_qs(int32_t* p, int32_t left, int32_t right, int32_t* p_ind, int32_t deep) {
    korvane::sort_range(p, p_ind, left, right, deep);
}

void l_parallel_quicksort(int32_t* p, int32_t count, int32_t* p_ind) {
    korvane::sort_all(p, count, p_ind, korvane::kEntryBudget);
}

void d_parallel_qs(double* p, int32_t left, int32_t right, int32_t* p_ind, int32_t deep) {
    korvane::sort_range(p, p_ind, left, right, deep);
}

void d_parallel_quicksort(double* p, int32_t count, int32_t* p_ind) {
    korvane::sort_all(p, count, p_ind, korvane::kEntryBudget);
}

}  // extern "C"
