// What the -o form shows of a merge's progress on standard error: a bar redrawn in place on a
// terminal (the first frame at once, then at most ten a second, the last at 100%, cleared at the
// end), plain lines for logs (--progress: at most one every 5 seconds), or nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace quillet {

enum class ProgressStyle { None, Bar, Lines };

// 518,862: a count with commas between its thousands, whatever the locale.
std::string with_commas(std::uint64_t n);

class ProgressDisplay {
  public:
    // Seconds since some fixed moment.
    using Clock = std::function<double()>;

    // Draws on `to`; a bar is cut to `width` columns (0: no limit) so that it never wraps.
    ProgressDisplay(std::FILE* to, ProgressStyle style, Clock clock, std::size_t width = 0);

    // The merge has written `done` of `total` points.
    void show(std::uint64_t done, std::uint64_t total);
    // The merge has ended: a bar is erased.
    void finish();

  private:
    std::string bar_frame(std::uint64_t done, std::uint64_t total, double elapsed) const;
    std::string line(std::uint64_t done, std::uint64_t total, double elapsed) const;

    std::FILE* to_;
    ProgressStyle style_;
    Clock clock_;
    std::size_t width_;
    std::optional<double> start_;  // when the first call came
    std::optional<double> drawn_;  // when the last frame or line was drawn
    bool shown_ = false;           // a bar is on the screen
};

}  // namespace quillet
