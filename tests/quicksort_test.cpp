// The index-carrying quicksorts, compared with a straightforward transcription of their algorithm
// (lower sub-range sorted by a nested call, upper sub-range by iteration) kept here as the
// reference: both arrays must end byte for byte as the reference leaves them.
#include <Korvane_LiDAR.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "quicksort_reference.hpp"

namespace {

constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- Reference -------------------------------------------------------------------------------

using testing_support::Depth;
using testing_support::reference_qs;

// ---- The functions under test, by key type ---------------------------------------------------

template <typename Key>
struct Api;
template <>
struct Api<std::int32_t> {
    static constexpr auto qs = &l_qs;
    static constexpr auto quicksort = &l_quicksort;
    static constexpr auto parallel_qs = &l_parallel_qs;
    static constexpr auto parallel_quicksort = &l_parallel_quicksort;
};
template <>
struct Api<double> {
    static constexpr auto qs = &d_qs;
    static constexpr auto quicksort = &d_quicksort;
    static constexpr auto parallel_qs = &d_parallel_qs;
    static constexpr auto parallel_quicksort = &d_parallel_quicksort;
};

// Each entry sorts a whole array of n keys; the workers are called on 0 .. n - 1, the
// depth-counting worker with the entries' budget.
template <typename Key>
struct WholeSort {
    const char* name;
    void (*sort)(Key* p, std::int32_t n, std::int32_t* p_ind);
};

template <typename Key>
std::array<WholeSort<Key>, 4> whole_sorts() {
    using A = Api<Key>;
    return {{
        {"quicksort", [](Key* p, std::int32_t n, std::int32_t* ind) { A::quicksort(p, n, ind); }},
        {"qs", [](Key* p, std::int32_t n, std::int32_t* ind) { A::qs(p, 0, n - 1, ind); }},
        {"parallel_quicksort",
         [](Key* p, std::int32_t n, std::int32_t* ind) { A::parallel_quicksort(p, n, ind); }},
        {"parallel_qs",
         [](Key* p, std::int32_t n, std::int32_t* ind) { A::parallel_qs(p, 0, n - 1, ind, 15); }},
    }};
}

// ---- Arrays and their comparison -------------------------------------------------------------

template <typename Key>
struct Arrays {
    std::vector<Key> keys;
    std::vector<std::int32_t> ind;

    explicit Arrays(std::vector<Key> k) : keys(std::move(k)), ind(keys.size()) {
        std::iota(ind.begin(), ind.end(), 0);
    }
    std::int32_t size() const { return static_cast<std::int32_t>(keys.size()); }
};

// Keys as bit patterns, so that NaNs compare equal to themselves and -0.0 differs from +0.0.
template <typename Key>
std::vector<std::uint64_t> bits(std::span<const Key> keys) {
    std::vector<std::uint64_t> out;
    for (const Key k : keys) {
        if constexpr (sizeof(Key) == 8)
            out.push_back(std::bit_cast<std::uint64_t>(k));
        else
            out.push_back(std::bit_cast<std::uint32_t>(k));
    }
    return out;
}

template <typename Key>
void expect_same(const Arrays<Key>& actual, const Arrays<Key>& expected, const std::string& what) {
    EXPECT_EQ(bits<Key>(actual.keys), bits<Key>(expected.keys)) << what;
    EXPECT_EQ(actual.ind, expected.ind) << what;
}

template <typename Key>
Arrays<Key> reference_sorted(Arrays<Key> a) {
    if (a.size() > 0) reference_qs(a.keys.data(), 0, a.size() - 1, a.ind.data());
    return a;
}

// The sorted arrays are a permutation of `input` (whose p_ind is 0 .. n - 1) with every key
// where its p_ind entry says it came from; keys ascend unless a NaN is among them.
template <typename Key>
void expect_sorted_permutation(const Arrays<Key>& input, const Arrays<Key>& sorted,
                               const std::string& what) {
    std::vector<std::int32_t> seen(sorted.ind);
    std::sort(seen.begin(), seen.end());
    ASSERT_EQ(seen, input.ind) << what << ": p_ind is not a permutation";
    std::vector<Key> followed;
    for (const std::int32_t from : sorted.ind) followed.push_back(input.keys[from]);
    EXPECT_EQ(bits<Key>(followed), bits<Key>(sorted.keys)) << what << ": p_ind does not follow";
    const bool has_nan =
        std::any_of(input.keys.begin(), input.keys.end(), [](Key k) { return k != k; });
    if (!has_nan) {
        EXPECT_TRUE(std::is_sorted(sorted.keys.begin(), sorted.keys.end())) << what;
    }
}

template <typename Key>
class Quicksort : public testing::Test {};
using KeyTypes = testing::Types<std::int32_t, double>;
TYPED_TEST_SUITE(Quicksort, KeyTypes);

// ---- Fixed examples --------------------------------------------------------------------------

TYPED_TEST(Quicksort, ExamplesGiveTheKnownOrderForEveryFunction) {
    using Key = TypeParam;
    struct Example {
        std::vector<Key> keys, sorted;
        std::vector<std::int32_t> ind;
    };
    const Example examples[] = {
        {{5, -3, 2, 2, 9, 0, -7}, {-7, -3, 0, 2, 2, 5, 9}, {6, 1, 5, 3, 2, 0, 4}},
        {{5, 4, 3, 2, 1}, {1, 2, 3, 4, 5}, {4, 3, 2, 1, 0}},
        {{-4, 0, 3, 8, 11, 12}, {-4, 0, 3, 8, 11, 12}, {0, 1, 2, 3, 4, 5}},
        // Equal keys stop both scans and are exchanged: the order is not stable.
        {{4, 4, 1, 1}, {1, 1, 4, 4}, {2, 3, 0, 1}},
        {{7, 7, 7, 7}, {7, 7, 7, 7}, {2, 3, 0, 1}},
        // Keys at both ends of the 32-bit range sort by signed value.
        {{kMax32, 0, kMin32, -1, kMin32 + 1, 1, kMax32 - 1, -(1 << 30), 1 << 30},
         {kMin32, kMin32 + 1, -(1 << 30), -1, 0, 1, 1 << 30, kMax32 - 1, kMax32},
         {2, 4, 7, 3, 1, 5, 8, 6, 0}},
    };
    for (const Example& e : examples) {
        for (const auto& fn : whole_sorts<Key>()) {
            Arrays<Key> a(e.keys);
            fn.sort(a.keys.data(), a.size(), a.ind.data());
            EXPECT_EQ(a.keys, e.sorted) << fn.name << " on " << testing::PrintToString(e.keys);
            EXPECT_EQ(a.ind, e.ind) << fn.name << " on " << testing::PrintToString(e.keys);
        }
    }
}

TYPED_TEST(Quicksort, EmptyAndSingleRangesLeaveBothArraysAlone) {
    using Key = TypeParam;
    using A = Api<Key>;
    // No position is touched, so no array is needed at all.
    for (const std::int32_t count : {0, -1, -7, kMin32}) {
        A::quicksort(nullptr, count, nullptr);
        A::parallel_quicksort(nullptr, count, nullptr);
    }
    const std::pair<std::int32_t, std::int32_t> empty_ranges[] = {
        {0, -1}, {3, 1}, {5, 0}, {kMax32, kMin32}, {1, kMin32}};
    for (const auto& [left, right] : empty_ranges) {
        A::qs(nullptr, left, right, nullptr);
        A::parallel_qs(nullptr, left, right, nullptr, 15);
    }

    const Arrays<Key> input({9, 8, 7, 6, 5, 4});
    const auto untouched = [&](const char* name, auto&& call) {
        Arrays<Key> a = input;
        call(a.keys.data(), a.ind.data());
        expect_same(a, input, name);
    };
    untouched("quicksort 1", [](Key* p, std::int32_t* ind) { A::quicksort(p, 1, ind); });
    untouched("parallel_quicksort 1",
              [](Key* p, std::int32_t* ind) { A::parallel_quicksort(p, 1, ind); });
    for (const std::int32_t at : {0, 2, 5}) {
        untouched("qs single", [at](Key* p, std::int32_t* ind) { A::qs(p, at, at, ind); });
        untouched("parallel_qs single",
                  [at](Key* p, std::int32_t* ind) { A::parallel_qs(p, at, at, ind, 0); });
    }
}

TEST(QuicksortDouble, NaNKeysStopTheScansLikeEqualKeys) {
    struct Example {
        std::vector<double> keys, sorted;
        std::vector<std::int32_t> ind;
    };
    const Example examples[] = {
        {{3, 1, kNaN, 2, 0}, {0, 2, kNaN, 1, 3}, {4, 3, 2, 1, 0}},
        {{1, kNaN, 0}, {0, kNaN, 1}, {2, 1, 0}},
        {{kNaN, kNaN, kNaN, kNaN}, {kNaN, kNaN, kNaN, kNaN}, {2, 3, 0, 1}},
        // -0.0 and +0.0 are equal keys: they are exchanged as four equal keys are, signs along.
        {{0.0, -0.0, 0.0, -0.0}, {0.0, -0.0, 0.0, -0.0}, {2, 3, 0, 1}},
        {{-0.0, 0.0}, {0.0, -0.0}, {1, 0}},
        {{1, -0.0, -1, 0.0, -2}, {-2, -1, 0.0, -0.0, 1}, {4, 2, 3, 1, 0}},
    };
    for (const Example& e : examples) {
        for (const auto& fn : whole_sorts<double>()) {
            Arrays<double> a(e.keys);
            const Arrays<double> input = a;
            fn.sort(a.keys.data(), a.size(), a.ind.data());
            const std::string what = std::string(fn.name) + " on " + testing::PrintToString(e.keys);
            EXPECT_EQ(bits<double>(a.keys), bits<double>(e.sorted)) << what;
            EXPECT_EQ(a.ind, e.ind) << what;
            expect_same(a, reference_sorted(input), what);
        }
    }
}

// ---- Randomised comparisons with the reference -----------------------------------------------

enum class Shape { kRandom, kFewDistinct, kSorted, kReversed, kAllEqual, kOrganPipe, kSawtooth };

std::vector<std::int32_t> make_keys(Shape shape, std::int32_t n, std::mt19937& rng) {
    std::vector<std::int32_t> keys(static_cast<std::size_t>(n));
    std::uniform_int_distribution<std::int32_t> any(kMin32, kMax32);
    std::uniform_int_distribution<std::int32_t> few(-2, 2);
    for (std::int32_t k = 0; k < n; ++k) {
        std::int32_t& key = keys[static_cast<std::size_t>(k)];
        switch (shape) {
            case Shape::kRandom:
                key = any(rng);
                break;
            case Shape::kFewDistinct:
                key = few(rng);
                break;
            case Shape::kSorted:
                key = k * 3 - n;
                break;
            case Shape::kReversed:
                key = n - k * 3;
                break;
            case Shape::kAllEqual:
                key = 42;
                break;
            case Shape::kOrganPipe:
                key = std::min(k, n - 1 - k);
                break;
            case Shape::kSawtooth:
                key = k % 17;
                break;
        }
    }
    return keys;
}

constexpr std::pair<Shape, const char*> kShapes[] = {
    {Shape::kRandom, "random"},      {Shape::kFewDistinct, "few distinct"},
    {Shape::kSorted, "sorted"},      {Shape::kReversed, "reversed"},
    {Shape::kAllEqual, "all equal"}, {Shape::kOrganPipe, "organ pipe"},
    {Shape::kSawtooth, "sawtooth"},
};
constexpr std::int32_t kSizes[] = {1,  2,   3,   4,   5,   6,   7,   8,   9,    16,
                                   31, 100, 127, 128, 129, 255, 256, 257, 1000, 10007};

template <typename Key>
Arrays<Key> arrays_of(const std::vector<std::int32_t>& keys) {
    return Arrays<Key>(std::vector<Key>(keys.begin(), keys.end()));
}

TYPED_TEST(Quicksort, WholeArraysEqualTheReference) {
    using Key = TypeParam;
    std::mt19937 rng(20240611);
    for (const auto& [shape, shape_name] : kShapes) {
        for (const std::int32_t n : kSizes) {
            const Arrays<Key> input = arrays_of<Key>(make_keys(shape, n, rng));
            const Arrays<Key> expected = reference_sorted(input);
            expect_sorted_permutation(input, expected, "reference");
            for (const auto& fn : whole_sorts<Key>()) {
                Arrays<Key> a = input;
                fn.sort(a.keys.data(), a.size(), a.ind.data());
                expect_same(a, expected,
                            std::string(fn.name) + ", " + shape_name + ", n=" + std::to_string(n));
            }
        }
    }
}

TYPED_TEST(Quicksort, WorkersSortOnlyTheirRange) {
    using Key = TypeParam;
    using A = Api<Key>;
    std::mt19937 rng(7);
    for (const auto& [shape, shape_name] : kShapes) {
        const Arrays<Key> input = arrays_of<Key>(make_keys(shape, 600, rng));
        for (const auto& [left, right] : {std::pair{0, 599}, {1, 598}, {250, 251}, {17, 403}}) {
            // The reference sorts left .. right of the same arrays.
            Arrays<Key> expected = input;
            reference_qs(expected.keys.data(), left, right, expected.ind.data());
            const std::string what =
                std::string(shape_name) + " " + std::to_string(left) + ".." + std::to_string(right);
            Arrays<Key> a = input;
            A::qs(a.keys.data(), left, right, a.ind.data());
            expect_same(a, expected, "qs " + what);
            for (const std::int32_t deep : {0, 3, 15, -1}) {
                Arrays<Key> b = input;
                A::parallel_qs(b.keys.data(), left, right, b.ind.data(), deep);
                expect_same(b, expected, "parallel_qs deep " + std::to_string(deep) + " " + what);
            }
        }
    }
}

TYPED_TEST(Quicksort, AnyDepthBudgetGivesThePlainSort) {
    using Key = TypeParam;
    using A = Api<Key>;
    std::mt19937 rng(99);
    for (const Shape shape : {Shape::kRandom, Shape::kFewDistinct, Shape::kOrganPipe}) {
        const Arrays<Key> input = arrays_of<Key>(make_keys(shape, 5000, rng));
        Arrays<Key> plain = input;
        A::qs(plain.keys.data(), 0, plain.size() - 1, plain.ind.data());
        expect_same(plain, reference_sorted(input), "qs");
        for (const std::int32_t deep : {0, 1, 2, 15, -1, 40, kMin32, kMax32}) {
            Arrays<Key> a = input;
            A::parallel_qs(a.keys.data(), 0, a.size() - 1, a.ind.data(), deep);
            expect_same(a, plain, "deep " + std::to_string(deep));
        }
    }
}

TEST(QuicksortDouble, NaNsAndSignedZerosAmongRandomKeysEqualTheReference) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pick(0, 9);
    std::uniform_real_distribution<double> real(-4.0, 4.0);
    for (const std::int32_t n : kSizes) {
        std::vector<double> keys;
        for (std::int32_t k = 0; k < n; ++k) {
            const int kind = pick(rng);
            keys.push_back(kind == 0 ? kNaN : kind == 1 ? -0.0 : kind == 2 ? 0.0 : real(rng));
        }
        const Arrays<double> input(keys);
        const Arrays<double> expected = reference_sorted(input);
        expect_sorted_permutation(input, expected, "reference");
        for (const auto& fn : whole_sorts<double>()) {
            Arrays<double> a = input;
            fn.sort(a.keys.data(), a.size(), a.ind.data());
            expect_same(a, expected, std::string(fn.name) + ", n=" + std::to_string(n));
        }
    }
}

// ---- Nesting depth ---------------------------------------------------------------------------

// Runs `work` on a new thread with a stack of `stack_bytes` and waits for it.
void run_with_stack(std::size_t stack_bytes, const std::function<void()>& work) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, stack_bytes), 0);
    pthread_t thread;
    const auto body = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    const int created =
        pthread_create(&thread, &attr, body, const_cast<std::function<void()>*>(&work));
    pthread_attr_destroy(&attr);
    ASSERT_EQ(created, 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
}

// Keys 0 .. n - 1 placed so that, in the order the reference visits them, the middle key of every
// range 0 .. r is the largest of that range. Each partition then only exchanges that key with
// the one at r and leaves the lower sub-range 0 .. r - 1: one nested call per key. Built by
// replaying those exchanges on the starting positions.
std::vector<std::int32_t> middle_pivot_worst_case(std::int32_t n) {
    std::vector<std::int32_t> from(static_cast<std::size_t>(n));  // start position of slot's key
    std::iota(from.begin(), from.end(), 0);
    std::vector<std::int32_t> keys(from.size());
    for (std::int32_t r = n - 1; r > 0; --r) {
        const auto top = static_cast<std::size_t>(r);
        keys[static_cast<std::size_t>(from[top / 2])] = r;
        std::swap(from[top / 2], from[top]);
    }
    keys[static_cast<std::size_t>(from[0])] = 0;
    return keys;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr std::int32_t kWorstCaseKeys = 10000;  // quadratic time, slower instrumented code
#else
constexpr std::int32_t kWorstCaseKeys = 20000;
#endif
constexpr std::size_t kSmallStack = 128 * 1024;

TYPED_TEST(Quicksort, WorstCaseInputSortsOnASmallStack) {
    using Key = TypeParam;
    const Arrays<Key> input = arrays_of<Key>(middle_pivot_worst_case(kWorstCaseKeys));

    // The reference nests one call per key; it gets a stack large enough for that.
    Arrays<Key> expected = input;
    Depth depth;
    run_with_stack(512u << 20, [&] {
        reference_qs(expected.keys.data(), 0, expected.size() - 1, expected.ind.data(), &depth);
    });
    EXPECT_EQ(depth.max, kWorstCaseKeys - 1);
    // The stack that nesting spans, measured between the outermost and the deepest call.
    EXPECT_GT(depth.stack_bytes(), 2 * kSmallStack);

    // Keys are distinct, so the sorted order and where each key came from are known outright.
    std::vector<Key> ascending(input.keys.size());
    std::iota(ascending.begin(), ascending.end(), Key{0});
    std::vector<std::int32_t> came_from(input.keys.size());
    for (std::int32_t k = 0; k < input.size(); ++k)
        came_from[static_cast<std::size_t>(input.keys[static_cast<std::size_t>(k)])] = k;
    ASSERT_EQ(expected.keys, ascending);
    ASSERT_EQ(expected.ind, came_from);

    for (const auto& fn : whole_sorts<Key>()) {
        Arrays<Key> a = input;
        run_with_stack(kSmallStack, [&] { fn.sort(a.keys.data(), a.size(), a.ind.data()); });
        EXPECT_EQ(a.keys, ascending) << fn.name;
        EXPECT_EQ(a.ind, came_from) << fn.name;
    }
}

}  // namespace
