#include "plan/grid_plan.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "plan/input_differences.hpp"

namespace quillet {
namespace {

using Long = long double;

constexpr Long kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr Long kInt32Max = std::numeric_limits<std::int32_t>::max();

// An error in real units, to three significant digits.
std::string error_text(Long e) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3Lg", e);
    return buf;
}

// The largest |raw value| that the header box needs on the input's own grid, and the largest
// |coordinate| of the box.
Long raw_reach(const GridInput& in, std::size_t a) {
    const Long s = in.scale[a];
    return std::max(std::fabs((Long{in.max[a]} - in.offset[a]) / s),
                    std::fabs((Long{in.min[a]} - in.offset[a]) / s));
}

Long coordinate_reach(const GridInput& in, std::size_t a) {
    return std::max(std::fabs(Long{in.max[a]}), std::fabs(Long{in.min[a]}));
}

// What a reader, computing o + s * r in double, cannot tell apart: a millionth of a step, or a few
// units in the last place of the largest coordinate.
Long tolerance(double out_scale, Long reach) {
    const double m = static_cast<double>(reach);
    const Long ulp = std::nextafter(m, std::numeric_limits<double>::infinity()) - m;
    return std::max(Long{1e-6} * out_scale, 4 * ulp);
}

bool usable(double v) {
    return std::isfinite(v);
}

// Maps one axis of an input onto the output's scale and offset; the refusal when the mapping
// is not lossless and `rescale` does not accept rounding.
Result<AxisMap> map_axis(const GridInput& in, std::size_t a, double s_out, double o_out,
                         bool rescale) {
    AxisMap m;
    const double s = in.scale[a];
    const double o = in.offset[a];
    // The same grid: nothing is computed, so agreeing inputs merge as they always have.
    if (!in.has_points || (s == s_out && o == o_out)) return m;
    const char* axis = axis_name(a);
    if (!usable(s) || !usable(o) || s <= 0 || !usable(in.max[a]) || !usable(in.min[a]))
        return refused(
            say("\n%sScaleFactor and %sOffset of %s (%s, %s) do not make a grid: a scale "
                "factor must be positive, and both finite\n",
                axis, axis, in.name.c_str(), text_of(s).c_str(), text_of(o).c_str()));
    const Long ratio = Long{s} / s_out;
    const Long steps = (Long{o} - o_out) / s_out;
    if (ratio > Long{1e15} || std::fabs(steps) > Long{1e15})
        return refused(
            say("\n%sOffset of %s is %s, too far from the output's %s to be a whole number of "
                "its steps of %s\n",
                axis, in.name.c_str(), text_of(o).c_str(), text_of(o_out).c_str(),
                text_of(s_out).c_str()));
    m.k = std::llroundl(ratio);
    m.d = std::llroundl(steps);
    const Long reach = raw_reach(in, a);
    const Long scale_error = std::fabs(m.k * Long{s_out} - s) * reach;
    const Long offset_error = std::fabs(m.d * Long{s_out} - (Long{o} - o_out));
    m.error = scale_error + offset_error;
    const Long allowed = tolerance(s_out, coordinate_reach(in, a));
    if (m.k >= 1 && m.error <= allowed) return m;
    if (rescale) {
        // Every point goes to the output step nearest to it: half a step at most, and no more
        // than the exact mapping would have moved it.
        m.exact = false;
        m.error = std::min(m.error, Long{s_out} / 2);
        return m;
    }
    if (m.k < 1 || scale_error > allowed / 2)
        return refused(
            say("\n%sScaleFactor of %s is %s, which is not a whole multiple of the output's "
                "%s: its points would move by up to %s (--rescale rounds them)\n",
                axis, in.name.c_str(), text_of(s).c_str(), text_of(s_out).c_str(),
                error_text(m.k < 1 ? Long{s_out} / 2 : m.error).c_str()));
    return refused(
        say("\n%sOffset of %s is %s, which is not a whole number of the output's steps of %s "
            "from %s: its points would move by %s (--rescale rounds them)\n",
            axis, in.name.c_str(), text_of(o).c_str(), text_of(s_out).c_str(),
            text_of(o_out).c_str(), error_text(m.error).c_str()));
}

// Whether an input's header box, on the output's grid, lies inside the 32-bit raw range.
bool fits(const GridInput& in, std::size_t a, double s_out, double o_out) {
    if (!in.has_points) return true;
    const Long hi = (Long{in.max[a]} - o_out) / s_out;
    const Long lo = (Long{in.min[a]} - o_out) / s_out;
    return std::max(hi, lo) <= kInt32Max && std::min(hi, lo) >= kInt32Min;
}

}  // namespace

const char* axis_name(std::size_t axis) {
    static constexpr const char* kNames[] = {"X", "Y", "Z"};
    return axis < kAxes ? kNames[axis] : "?";
}

bool GridPlan::identity(std::size_t input) const {
    for (const AxisMap& m : inputs[input])
        if (!m.identity()) return false;
    return true;
}

bool GridPlan::changes_anything() const {
    for (std::size_t i = 0; i < inputs.size(); ++i)
        if (!identity(i)) return true;
    return false;
}

namespace {

// The divisors of the finest scale factor that the output may take, in order: the numbers
// 2^a x 5^b up to 1000, so that the output's scale stays a short decimal (0.005, 0.0025, 0.002).
std::vector<int> fine_divisors() {
    std::vector<int> d;
    for (int two = 1; two <= 1000; two *= 2)
        for (int m = two; m <= 1000; m *= 5) d.push_back(m);
    std::sort(d.begin(), d.end());
    return d;
}

// One axis of the output's grid with scale `s_out`: the first file's offset, moved by whole steps
// to the step nearest the merged box's centre when it cannot hold the box.
struct AxisGrid {
    double scale = 0, offset = 0;
    bool offset_moved = false;
};
AxisGrid axis_grid(std::span<const GridInput> inputs, std::size_t a, double s_out) {
    const GridInput& first = inputs.front();
    AxisGrid g{s_out, first.offset[a], false};
    bool all_fit = true;
    Long lo = 0, hi = 0;
    bool boxed = false;
    for (const GridInput& in : inputs) {
        if (!in.has_points) continue;
        all_fit = all_fit && fits(in, a, s_out, g.offset);
        lo = boxed ? std::min<Long>(lo, in.min[a]) : in.min[a];
        hi = boxed ? std::max<Long>(hi, in.max[a]) : in.max[a];
        boxed = true;
    }
    if (!all_fit && usable(s_out) && s_out > 0) {
        const Long centre = (lo + hi) / 2;
        const Long m = std::roundl((centre - first.offset[a]) / s_out);
        g.offset = static_cast<double>(first.offset[a] + m * s_out);
        g.offset_moved = true;
    }
    return g;
}

// Whether every input maps onto `g` without moving a point, and fits its 32-bit range.
bool holds_every_input(std::span<const GridInput> inputs, std::size_t a, const AxisGrid& g) {
    for (const GridInput& in : inputs)
        if (!map_axis(in, a, g.scale, g.offset, false) || !fits(in, a, g.scale, g.offset))
            return false;
    return true;
}

// Why the output's grid is finer than the inputs' finest scale `s`, `m` times.
std::string finer_reason(std::span<const GridInput> inputs, std::size_t a, double s, int m) {
    bool multiples = true;
    for (const GridInput& in : inputs) {
        if (!in.has_points) continue;
        const Long ratio = Long{in.scale[a]} / s;
        multiples = multiples && std::fabs(ratio - std::roundl(ratio)) <= Long{1e-9} * ratio;
    }
    std::string text = "the inputs' ";
    if (!multiples) {
        text += "scale factors are not whole multiples of ";
        text += text_of(s);
        return text;
    }
    text += "offsets lie on ";
    if (m == 2 || m == 4) {
        text += m == 2 ? "half steps" : "quarter steps";
    } else {
        text += "1/";
        text += std::to_string(m);
        text += " steps";
    }
    text += " of ";
    text += text_of(s);
    return text;
}

}  // namespace

Result<GridPlan> plan_grid(std::span<const GridInput> inputs, bool rescale) {
    GridPlan plan;
    const GridInput& first = inputs.front();
    plan.inputs.resize(inputs.size());
    static const std::vector<int> kDivisors = fine_divisors();
    for (std::size_t a = 0; a < kAxes; ++a) {
        // The finest scale among the inputs that hold points, divided by the least m that holds
        // every input exactly; m = 1 (no such m) refuses or rounds below.
        double s_min = first.scale[a];
        bool any = false;
        for (const GridInput& in : inputs) {
            if (!in.has_points || !usable(in.scale[a]) || in.scale[a] <= 0) continue;
            if (!any || in.scale[a] < s_min) s_min = in.scale[a];
            any = true;
        }
        AxisGrid g = axis_grid(inputs, a, s_min);
        if (any && !holds_every_input(inputs, a, g)) {
            for (const int m : kDivisors) {
                if (m == 1) continue;
                const AxisGrid finer = axis_grid(inputs, a, static_cast<double>(Long{s_min} / m));
                if (!holds_every_input(inputs, a, finer)) continue;
                g = finer;
                plan.finer[a] = finer_reason(inputs, a, s_min, m);
                break;
            }
        }
        plan.scale[a] = g.scale;
        plan.offset[a] = g.offset;
        plan.offset_moved = plan.offset_moved || g.offset_moved;
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        for (std::size_t a = 0; a < kAxes; ++a) {
            Result<AxisMap> m = map_axis(inputs[i], a, plan.scale[a], plan.offset[a], rescale);
            if (!m) return m.problem();
            plan.inputs[i][a] = *m;
            if (!m->exact) plan.rounding[a] = std::max(plan.rounding[a], m->error);
        }
    }
    for (std::size_t a = 0; a < kAxes; ++a)
        for (const GridInput& in : inputs)
            if (!fits(in, a, plan.scale[a], plan.offset[a]))
                return refused(
                    say("\nThe %s coordinates of %s (%s to %s) do not fit the 32-bit range of "
                        "the output's grid (scale factor %s, offset %s)\n",
                        axis_name(a), in.name.c_str(), text_of(in.min[a]).c_str(),
                        text_of(in.max[a]).c_str(), text_of(plan.scale[a]).c_str(),
                        text_of(plan.offset[a]).c_str()));
    return plan;
}

std::optional<std::int32_t> map_raw(std::int32_t raw, const AxisMap& map, double in_scale,
                                    double in_offset, double out_scale, double out_offset) {
    if (map.exact) {
        // k and d reach 1e15, so a point beyond its header box can take r * k past 64 bits:
        // that, too, leaves the 32-bit range, and must not wrap back into it.
        std::int64_t v = 0;
        if (__builtin_mul_overflow(std::int64_t{raw}, map.k, &v) ||
            __builtin_add_overflow(v, map.d, &v) || v < std::numeric_limits<std::int32_t>::min() ||
            v > std::numeric_limits<std::int32_t>::max())
            return std::nullopt;
        return static_cast<std::int32_t>(v);
    }
    const Long value =
        std::roundl((Long{in_offset} - out_offset + Long{in_scale} * raw) / out_scale);
    if (value < kInt32Min || value > kInt32Max) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

}  // namespace quillet
