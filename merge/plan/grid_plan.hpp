// The grid of the merged file, and how each input's raw coordinates map onto it without moving a
// point. Per axis: the output's scale factor is the finest of the inputs' (s), or, when no input
// may move on that grid, s / m for the least m of 2^a x 5^b up to 1000 on which none moves; its
// offset is the first file's; an input's raw value r becomes r * k + d, integer arithmetic, exact.
// An input is on the output's grid when that mapping changes no real coordinate its header box
// allows by more than a reader can tell (max(1e-6 steps, 4 ulps of the coordinate)). Everything
// here is a pure function of the inputs' scale factors, offsets and header boxes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/status.hpp"

namespace quillet {

inline constexpr std::size_t kAxes = 3;

// "X", "Y" or "Z".
const char* axis_name(std::size_t axis);

// What the plan reads of one input.
struct GridInput {
    std::string name;
    std::array<double, kAxes> scale{};
    std::array<double, kAxes> offset{};
    std::array<double, kAxes> max{};  // the header box
    std::array<double, kAxes> min{};
    bool has_points = false;  // an input without points takes no part in the grid
};

// How one axis of an input maps onto the output's. When `exact`, raw_out = raw_in * k + d. When
// not (only with --rescale), raw_out is the output step nearest to the point's real coordinate,
// half away from zero.
struct AxisMap {
    std::int64_t k = 1;
    std::int64_t d = 0;
    bool exact = true;
    // The most that the mapping moves a real coordinate within the header box: E for an exact
    // mapping, the rounding error that the box allows for a rounded one.
    long double error = 0;
    bool identity() const { return exact && k == 1 && d == 0; }
    bool operator==(const AxisMap&) const = default;
};

struct GridPlan {
    std::array<double, kAxes> scale{};
    std::array<double, kAxes> offset{};
    // The first file's offset could not hold the merged box: the offset moved by whole steps.
    bool offset_moved = false;
    std::vector<std::array<AxisMap, kAxes>> inputs;  // in list order
    // With --rescale: per axis, the largest rounding error the header boxes allow.
    std::array<long double, kAxes> rounding{};
    // Per axis, when the output's scale is finer than the inputs' finest, why ("the inputs'
    // offsets lie on half steps of 0.01"); empty otherwise.
    std::array<std::string, kAxes> finer{};

    bool identity(std::size_t input) const;
    bool changes_anything() const;
};

// The output's grid and every input's mapping onto it; the refusal, as one message naming the
// file, the axis, both values and the largest error the merge would cause, when an input's scale
// factor is not a whole multiple of the output's or its offset not a whole number of its steps
// (both accepted as rounding with `rescale`), or when an input's header box cannot fit the
// output's 32-bit raw range.
Result<GridPlan> plan_grid(std::span<const GridInput> inputs, bool rescale);

// The output raw value of an input raw value on one axis: r * k + d for an exact mapping, or the
// nearest output step (half away from zero) to o_in + s_in * r. Nothing when it leaves the
// 32-bit range.
std::optional<std::int32_t> map_raw(std::int32_t raw, const AxisMap& map, double in_scale,
                                    double in_offset, double out_scale, double out_offset);

}  // namespace quillet
