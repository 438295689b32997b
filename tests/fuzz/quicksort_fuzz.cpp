// The index-carrying quicksorts on arbitrary arrays. Byte 0 picks the key type and the function,
// byte 1 the depth budget of the depth-counting worker, bytes 2 and 3 the range of a worker call;
// the rest are the keys. Both arrays must end byte for byte as a plain transcription of the
// algorithm leaves them, p_ind must be a permutation that follows the keys, keys ascend where no
// NaN is among them, and nothing outside the sorted range changes.
#include <Korvane_LiDAR.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.hpp"
#include "quicksort_reference.hpp"

namespace {

using testing_support::reference_qs;

template <typename Key>
bool same_bits(const std::vector<Key>& a, const std::vector<Key>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Key)) == 0);
}

template <typename Key>
bool is_nan(Key k) {
    if constexpr (sizeof(Key) == 8)
        return std::isnan(k);
    else
        return false;
}

template <typename Key>
void check(const std::uint8_t* data, std::size_t size) {
    const unsigned function = (data[0] >> 1) & 3u;
    const auto deep = static_cast<std::int32_t>(static_cast<std::int8_t>(data[1]));
    const std::size_t n = (size - 4) / sizeof(Key);
    std::vector<Key> keys(n);
    if (n > 0) std::memcpy(keys.data(), data + 4, n * sizeof(Key));
    std::vector<std::int32_t> ind(n);
    std::iota(ind.begin(), ind.end(), 0);
    const auto count = static_cast<std::int32_t>(n);

    // The whole array, or for the workers a range picked by bytes 2 and 3 (possibly empty).
    std::int32_t left = 0;
    std::int32_t right = count - 1;
    if ((function == 1 || function == 3) && n > 0) {
        left = data[2] % count;
        right = data[3] % count;
    }

    std::vector<Key> p = keys;
    std::vector<std::int32_t> p_ind = ind;
    if constexpr (sizeof(Key) == 4) {
        switch (function) {
            case 0:
                l_quicksort(p.data(), count, p_ind.data());
                break;
            case 1:
                l_qs(p.data(), left, right, p_ind.data());
                break;
            case 2:
                l_parallel_quicksort(p.data(), count, p_ind.data());
                break;
            default:
                l_parallel_qs(p.data(), left, right, p_ind.data(), deep);
                break;
        }
    } else {
        switch (function) {
            case 0:
                d_quicksort(p.data(), count, p_ind.data());
                break;
            case 1:
                d_qs(p.data(), left, right, p_ind.data());
                break;
            case 2:
                d_parallel_quicksort(p.data(), count, p_ind.data());
                break;
            default:
                d_parallel_qs(p.data(), left, right, p_ind.data(), deep);
                break;
        }
    }

    std::vector<Key> ref = keys;
    std::vector<std::int32_t> ref_ind = ind;
    if (left < right) reference_qs(ref.data(), left, right, ref_ind.data());
    const std::string what = "function " + std::to_string(function) + ", " + std::to_string(n) +
                             " keys, range " + std::to_string(left) + ".." + std::to_string(right) +
                             ", deep " + std::to_string(deep);
    FUZZ_CHECK(same_bits(p, ref), "keys differ from the reference: " + what);
    FUZZ_CHECK(p_ind == ref_ind, "p_ind differs from the reference: " + what);

    // Independently of the reference: outside the range nothing moves; inside, p_ind is a
    // permutation of the range's positions and each key is the one that stood there.
    std::vector<bool> seen(n, false);
    bool any_nan = false;
    for (std::size_t k = 0; k < n; ++k) {
        const auto pos = static_cast<std::int32_t>(k);
        if (pos < left || pos > right) {
            FUZZ_CHECK(p_ind[k] == pos && std::memcmp(&p[k], &keys[k], sizeof(Key)) == 0,
                       "a position outside the range changed: " + what);
            continue;
        }
        const std::int32_t from = p_ind[k];
        FUZZ_CHECK(from >= left && from <= right && !seen[static_cast<std::size_t>(from)],
                   "p_ind is not a permutation of the range: " + what);
        seen[static_cast<std::size_t>(from)] = true;
        FUZZ_CHECK(std::memcmp(&p[k], &keys[static_cast<std::size_t>(from)], sizeof(Key)) == 0,
                   "p_ind does not follow the keys: " + what);
        any_nan = any_nan || is_nan(p[k]);
    }
    if (!any_nan && left < right) {
        for (std::int32_t k = left; k < right; ++k)
            FUZZ_CHECK(!(p[static_cast<std::size_t>(k) + 1] < p[static_cast<std::size_t>(k)]),
                       "keys do not ascend at " + std::to_string(k) + ": " + what);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    if (data[0] & 1u)
        check<double>(data, size);
    else
        check<std::int32_t>(data, size);
    return 0;
}
