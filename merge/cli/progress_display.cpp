#include "cli/progress_display.hpp"

#include <cmath>

#include "core/message.hpp"

namespace quillet {
namespace {

constexpr double kBarInterval = 0.1;   // at most ten frames a second
constexpr double kLineInterval = 5.0;  // at most one line every 5 seconds
constexpr int kBarCells = 30;

// Points a second, in points, thousands or millions.
std::string rate_of(std::uint64_t done, double elapsed) {
    if (elapsed <= 0) return "-- points/s";
    const double rate = static_cast<double>(done) / elapsed;
    if (rate >= 1e6) return say("%.1f M points/s", rate / 1e6).text;
    if (rate >= 1e3) return say("%.1f k points/s", rate / 1e3).text;
    return say("%.0f points/s", rate).text;
}

// The time left at the rate so far: m:ss, or h:mm:ss from an hour.
std::string time_left(std::uint64_t done, std::uint64_t total, double elapsed) {
    if (done == 0 || elapsed <= 0) return "--:-- left";
    const double left = elapsed * static_cast<double>(total - done) / static_cast<double>(done);
    const auto seconds = static_cast<unsigned long long>(std::llround(left));
    if (seconds >= 3600)
        return say("%llu:%02llu:%02llu left", seconds / 3600, seconds / 60 % 60, seconds % 60).text;
    return say("%llu:%02llu left", seconds / 60, seconds % 60).text;
}

int percent_of(std::uint64_t done, std::uint64_t total) {
    if (total == 0) return 100;
    return static_cast<int>(static_cast<long double>(done) * 100 / total);
}

}  // namespace

std::string with_commas(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
    return digits;
}

ProgressDisplay::ProgressDisplay(std::FILE* to, ProgressStyle style, Clock clock, std::size_t width)
    : to_(to), style_(style), clock_(std::move(clock)), width_(width) {}

std::string ProgressDisplay::bar_frame(std::uint64_t done, std::uint64_t total,
                                       double elapsed) const {
    const int percent = percent_of(done, total);
    const int cells = percent * kBarCells / 100;
    std::string bar(static_cast<std::size_t>(cells), '#');
    bar.append(static_cast<std::size_t>(kBarCells - cells), '-');
    std::string frame = say("[%s] %3d%%  %s / %s points  %s  %s", bar.c_str(), percent,
                            with_commas(done).c_str(), with_commas(total).c_str(),
                            rate_of(done, elapsed).c_str(), time_left(done, total, elapsed).c_str())
                            .text;
    if (width_ > 1 && frame.size() >= width_) frame.resize(width_ - 1);
    return frame;
}

std::string ProgressDisplay::line(std::uint64_t done, std::uint64_t total, double elapsed) const {
    return say("Progress: %d%% (%s of %s points), %s, %s\n", percent_of(done, total),
               with_commas(done).c_str(), with_commas(total).c_str(),
               rate_of(done, elapsed).c_str(), time_left(done, total, elapsed).c_str())
        .text;
}

void ProgressDisplay::show(std::uint64_t done, std::uint64_t total) {
    if (style_ == ProgressStyle::None) return;
    const double now = clock_();
    if (!start_) start_ = now;
    const double elapsed = now - *start_;
    const bool last = done >= total;
    const double interval = style_ == ProgressStyle::Bar ? kBarInterval : kLineInterval;
    const bool due = !drawn_ || now - *drawn_ >= interval;
    if (style_ == ProgressStyle::Bar && (due || last)) {
        // Drawn over the line in place; the end of any longer frame before it erased.
        // Written piece by piece: GCC 12 at -O3 misreads "literal" + std::string.
        std::fputs("\r", to_);
        std::fputs(bar_frame(done, total, elapsed).c_str(), to_);
        std::fputs("\x1b[K", to_);
        std::fflush(to_);
        shown_ = true;
        drawn_ = now;
    } else if (style_ == ProgressStyle::Lines && due) {
        std::fputs(line(done, total, elapsed).c_str(), to_);
        std::fflush(to_);
        drawn_ = now;
    }
}

void ProgressDisplay::finish() {
    if (!shown_) return;
    std::fputs("\r\x1b[K", to_);
    std::fflush(to_);
    shown_ = false;
}

}  // namespace quillet
