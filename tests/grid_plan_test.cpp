// The plan of the output's grid as a pure function: inputs' scale factors, offsets and header
// boxes give the output's scale factors and offsets and each input's mapping (k and d per axis),
// or the one refusal that says which file would lose what.
#include "plan/grid_plan.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using quillet::AxisMap;
using quillet::GridInput;

// A tile of scale `s` and offset `o` on every axis, with a box from `lo` to `hi`.
GridInput tile(const std::string& name, double s, double o, double lo, double hi,
               bool points = true) {
    GridInput in;
    in.name = name;
    in.scale = {s, s, s};
    in.offset = {o, o, o};
    in.min = {lo, lo, lo};
    in.max = {hi, hi, hi};
    in.has_points = points;
    return in;
}

GridInput with_x(GridInput in, double s, double o) {
    in.scale[0] = s;
    in.offset[0] = o;
    return in;
}

AxisMap exact(std::int64_t k, std::int64_t d) {
    AxisMap m;
    m.k = k;
    m.d = d;
    return m;
}

TEST(GridPlan, OutputGridAndMappings) {
    struct Case {
        const char* what;
        std::vector<GridInput> inputs;
        bool rescale;
        double x_scale, x_offset;
        std::vector<AxisMap> x_maps;  // per input; error not compared for exact maps
        bool offset_moved = false;
        std::string finer = "";  // why X's grid is finer than every input's
    };
    const Case cases[] = {
        {"inputs that agree",
         {tile("a", 0.01, 0, 0, 100), tile("b", 0.01, 0, 50, 200)},
         false,
         0.01,
         0,
         {exact(1, 0), exact(1, 0)}},
        {"per-tile X offsets, whole steps apart",
         {with_x(tile("a", 0.01, 0, 0, 100), 0.01, 500000),
          with_x(tile("b", 0.01, 0, 0, 100), 0.01, 583000)},
         false,
         0.01,
         500000,
         {exact(1, 0), exact(1, 8300000)}},
        {"0.01 beside 0.001: the finer wins",
         {tile("a", 0.01, 0, 0, 1000), tile("b", 0.001, 0, 0, 1000)},
         false,
         0.001,
         0,
         {exact(10, 0), exact(1, 0)}},
        {"an offset stored as 637316.9299999999",
         {with_x(tile("a", 0.01, 0, 0, 100), 0.01, 637148.03),
          with_x(tile("b", 0.01, 0, 0, 100), 0.01, 637316.9299999999)},
         false,
         0.01,
         637148.03,
         {exact(1, 0), exact(1, 16890)}},
        {"an input without points takes no part",
         {tile("a", 0.01, 0, 0, 100), tile("empty", 0.0001, 7.77, 0, 0, false)},
         false,
         0.01,
         0,
         {exact(1, 0), exact(1, 0)}},
        {"rescale rounds an offset of a third of a step, which no finer grid holds",
         {tile("a", 0.01, 0, 0, 100), with_x(tile("b", 0.01, 0, 0, 100), 0.01, 0.01 / 3)},
         true,
         0.01,
         0,
         {exact(1, 0),
          [] {
              AxisMap m = exact(1, 0);  // llround(1 / 3)
              m.exact = false;
              return m;
          }()}},
        {"offsets on half steps (a tile's centre): the grid halves",
         {tile("a", 0.01, 0, 0, 100), with_x(tile("b", 0.01, 0, 0, 100), 0.01, 0.005)},
         false,
         0.005,
         0,
         {exact(2, 0), exact(2, 1)},
         false,
         "the inputs' offsets lie on half steps of 0.01"},
        {"0.002 beside 0.005: the grid of 0.001 holds both",
         {tile("a", 0.002, 0, 0, 100), tile("b", 0.005, 0, 0, 100)},
         false,
         0.001,
         0,
         {exact(2, 0), exact(5, 0)},
         false,
         "the inputs' scale factors are not whole multiples of 0.002"},
        {"a box the first file's offset cannot hold moves the offset to its centre",
         {tile("a", 0.001, 0, 0, 10), tile("b", 0.001, 0, 3000000, 3000010)},
         false,
         0.001,
         1500005,
         {exact(1, -1500005000), exact(1, -1500005000)},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const quillet::Result<quillet::GridPlan> plan = quillet::plan_grid(c.inputs, c.rescale);
        ASSERT_TRUE(plan) << plan.problem().text;
        EXPECT_EQ(plan->scale[0], c.x_scale);
        EXPECT_NEAR(plan->offset[0], c.x_offset, 1e-9);
        EXPECT_EQ(plan->offset_moved, c.offset_moved);
        ASSERT_EQ(plan->inputs.size(), c.x_maps.size());
        for (std::size_t i = 0; i < c.x_maps.size(); ++i) {
            const AxisMap& m = plan->inputs[i][0];
            EXPECT_EQ(m.k, c.x_maps[i].k) << i;
            EXPECT_EQ(m.d, c.x_maps[i].d) << i;
            EXPECT_EQ(m.exact, c.x_maps[i].exact) << i;
            // Every exact mapping moves a coordinate of its box by less than a reader can tell.
            if (m.exact) {
                EXPECT_LE(m.error, 1e-6L * c.x_scale + 1e-9L) << i;
            }
        }
        EXPECT_EQ(plan->finer[0], c.finer);
        if (c.rescale) {
            EXPECT_NEAR(static_cast<double>(plan->rounding[0]), 0.01 / 3, 1e-12);
        }
    }
}

TEST(GridPlan, WhatIsNotLosslessIsRefused) {
    struct Case {
        const char* what;
        std::vector<GridInput> inputs;
        bool rescale;
        std::string message;  // empty: accepted (with --rescale)
    };
    // A scale stored in single precision, against 0.001, at 5e7 raw steps: 11 output steps.
    const Case cases[] = {
        {"a scale that is not a whole multiple",
         {tile("a.las", 0.001, 0, 0, 500000), tile("b.las", 0.009999999776, 0, 0, 500000)},
         false,
         "\nXScaleFactor of b.las is 0.009999999776, which is not a whole multiple of the "
         "output's 0.001: its points would move by up to 0.0112 (--rescale rounds them)\n"},
        // 0.01 is 3.33 steps of 0.003, and of no grid of 0.003 / 2^a 5^b a whole number.
        {"a third of a step",
         {tile("a.las", 0.003, 0, 0, 10), tile("b.las", 0.01, 0, 0, 10)},
         false,
         "\nXScaleFactor of b.las is 0.01, which is not a whole multiple of the output's 0.003: "
         "its points would move by up to 1 (--rescale rounds them)\n"},
        {"an offset that no finer grid holds",
         {tile("a.las", 0.01, 0, 0, 100), with_x(tile("b.las", 0.01, 0, 0, 100), 0.01, 0.01 / 3)},
         false,
         "\nXOffset of b.las is 0.0033333333333333335, which is not a whole number of the "
         "output's steps of 0.01 from 0: its points would move by 0.00333 (--rescale rounds "
         "them)\n"},
        {"rescale accepts both",
         {tile("a.las", 0.002, 0, 0, 10), tile("b.las", 0.003, 0.0007, 0, 10)},
         true,
         ""},
        {"a box that no offset can fit in 32 bits",
         {tile("a.las", 0.001, 0, 0, 10), tile("b.las", 0.001, 0, 5000000, 5000010)},
         true,
         "\nThe X coordinates of a.las (0 to 10) do not fit the 32-bit range of the output's "
         "grid (scale factor 0.001, offset 2500005)\n"},
        {"an offset too far away to count in the output's steps",
         {tile("a.las", 0.01, 0, 0, 10), with_x(tile("b.las", 0.01, 0, 0, 10), 0.01, 1e14)},
         false,
         "\nXOffset of b.las is 100000000000000, too far from the output's 0 to be a whole number "
         "of its steps of 0.01\n"},
        {"a scale that makes no grid",
         {tile("a.las", 0.01, 0, 0, 10), with_x(tile("b.las", 0.01, 0, 0, 10), -0.01, 0)},
         false,
         "\nXScaleFactor and XOffset of b.las (-0.01, 0) do not make a grid: a scale factor must "
         "be positive, and both finite\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const quillet::Result<quillet::GridPlan> plan = quillet::plan_grid(c.inputs, c.rescale);
        EXPECT_EQ(plan ? std::string() : plan.problem().text, c.message);
    }
}

TEST(GridPlan, RawValuesMapExactlyOrToTheNearestStep) {
    const AxisMap ten = exact(10, -7);
    EXPECT_EQ(quillet::map_raw(123, ten, 0.01, 0, 0.001, 0), 1223);
    EXPECT_EQ(quillet::map_raw(-214748364, ten, 0.01, 0, 0.001, 0), -2147483647);
    EXPECT_EQ(quillet::map_raw(214748365, ten, 0.01, 0, 0.001, 0), 2147483643);
    EXPECT_FALSE(quillet::map_raw(214748366, ten, 0.01, 0, 0.001, 0)) << "past INT32_MAX";
    // -2^31 * 2^33 is -2^64, which 64-bit arithmetic would wrap to 0.
    EXPECT_FALSE(quillet::map_raw(std::numeric_limits<std::int32_t>::min(),
                                  exact(std::int64_t{1} << 33, 0), 1, 0, 1.0 / 8589934592, 0))
        << "past 64 bits";
    EXPECT_FALSE(
        quillet::map_raw(1, exact(1, std::numeric_limits<std::int64_t>::max()), 1, 0, 1, 0))
        << "an offset past 64 bits";
    AxisMap rounded;
    rounded.exact = false;
    // 0.0007 + 0.003 * r on steps of 0.002: r = 1 is 0.0037 -> 1.85 steps -> 2; r = -1 is
    // -0.0023 -> -1.15 steps -> -1; half a step rounds away from zero.
    EXPECT_EQ(quillet::map_raw(1, rounded, 0.003, 0.0007, 0.002, 0), 2);
    EXPECT_EQ(quillet::map_raw(-1, rounded, 0.003, 0.0007, 0.002, 0), -1);
    EXPECT_EQ(quillet::map_raw(1, rounded, 0.001, 0, 0.002, 0), 1);
    EXPECT_EQ(quillet::map_raw(-1, rounded, 0.001, 0, 0.002, 0), -1);
}

}  // namespace
