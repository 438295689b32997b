// The running median of the last few coordinate differences that predicts the next one. It holds
// five values in order and, for each new value, drops either the largest or the smallest of them:
// after a value below the median it drops the largest next time, otherwise the smallest. LASzip's
// coders predict X and Y this way, so the order of drops has to be exactly this one.
#pragma once

#include <array>
#include <cstdint>

namespace korvane::laz {

class Median5 {
  public:
    void reset() { *this = Median5(); }

    std::int32_t get() const { return sorted_[2]; }

    void add(std::int32_t v) {
        if (drop_largest_) {
            const bool below = v < sorted_[2];
            std::size_t i = 4;  // the largest goes; v moves down to its place
            while (i > 0 && v < sorted_[i - 1]) {
                sorted_[i] = sorted_[i - 1];
                --i;
            }
            sorted_[i] = v;
            drop_largest_ = below;
        } else {
            const bool above = sorted_[2] < v;
            std::size_t i = 0;  // the smallest goes; v moves up to its place
            while (i < 4 && sorted_[i + 1] < v) {
                sorted_[i] = sorted_[i + 1];
                ++i;
            }
            sorted_[i] = v;
            drop_largest_ = !above;
        }
    }

  private:
    std::array<std::int32_t, 5> sorted_{};
    bool drop_largest_ = true;
};

}  // namespace korvane::laz
