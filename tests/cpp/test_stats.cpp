#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "stats/collector.hpp"

using namespace vardelin;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
}  // namespace

TEST(CellRule, ClampsAndSendsNaNToZero) {
    EXPECT_EQ(cell_of(0.5, 0.0, 1.0, 4), 0);
    EXPECT_EQ(cell_of(3.0, 0.0, 1.0, 4), 3);
    EXPECT_EQ(cell_of(9.0, 0.0, 1.0, 4), 3);
    EXPECT_EQ(cell_of(-9.0, 0.0, 1.0, 4), 0);
    EXPECT_EQ(cell_of(kNaN, 0.0, 1.0, 4), 0);
    EXPECT_EQ(cell_of(kInf, 0.0, 1.0, 4), 3);
    EXPECT_EQ(cell_of(-kInf, 0.0, 1.0, 4), 0);
}

TEST(MorisitaClass, SmallIdenticalAndSpreadInputs) {
    std::vector<double> few(19, 1.0);
    EXPECT_EQ(collect_points(few, few).distribution, Distribution::Unknown);

    std::vector<double> same(20, 3.0);
    const auto s = collect_points(same, same);
    EXPECT_EQ(s.distribution, Distribution::Clustered);
    ASSERT_TRUE(s.histogram);
    EXPECT_EQ(s.histogram->counts[0], 20u);
    EXPECT_EQ(s.density, 0.0);

    // 256 points on the diagonal of a 256 x 256 grid: one per fine cell, S = 0.
    std::vector<double> diag;
    for (int i = 0; i < 256; ++i) diag.push_back(i + 0.5);
    EXPECT_EQ(collect_points(diag, diag).distribution, Distribution::Uniform);
}

TEST(PointStats, NaNAndInfinityRules) {
    std::vector<double> xs{kNaN, kNaN}, ys{1.0, 2.0};
    const auto all_nan = collect_points(xs, ys);
    EXPECT_EQ(all_nan.kind, GeometryKind::Point);
    EXPECT_FALSE(all_nan.extent);
    EXPECT_FALSE(all_nan.histogram);
    EXPECT_EQ(all_nan.n, 2u);

    // A NaN x keeps its y in the extent and is counted in column 0.
    std::vector<double> x2{kNaN, 0.0, 10.0}, y2{5.0, 0.0, 10.0};
    const auto mixed = collect_points(x2, y2);
    ASSERT_TRUE(mixed.extent);
    EXPECT_EQ(mixed.extent->min_x, 0.0);
    EXPECT_EQ(mixed.extent->max_x, 10.0);
    u64 total = 0;
    for (u32 c : mixed.histogram->counts) total += c;
    EXPECT_EQ(total, 3u);
    EXPECT_EQ(mixed.histogram->counts[16 * 32 + 0], 1u);

    // Only the minimum x decides: a -inf x removes the extent, a +inf max does not.
    std::vector<double> x3{-kInf, 1.0}, y3{0.0, 1.0};
    EXPECT_FALSE(collect_points(x3, y3).extent);
    std::vector<double> x4{0.0, kInf}, y4{0.0, 1.0};
    EXPECT_TRUE(collect_points(x4, y4).extent);

    const auto empty = collect_points({}, {});
    EXPECT_EQ(empty.kind, GeometryKind::Empty);
    EXPECT_EQ(empty.distribution, Distribution::Unknown);
}

TEST(Histogram, BoxBeyondExtentReadsBorderColumn) {
    SpatialHistogram h;
    h.min_x = 0;
    h.min_y = 0;
    h.cell_w = 1;
    h.cell_h = 1;
    h.counts[5 * 32 + 31] = 1;
    EXPECT_TRUE(h.has_any_in_bbox({100, 5.5, 200, 5.5}));
    EXPECT_FALSE(h.has_any_in_bbox({100, 6.5, 200, 7.0}));
    EXPECT_TRUE(h.has_any_in_bbox({31.5, 5.5, 31.5, 5.5}));
    EXPECT_FALSE(h.has_any_in_bbox({30.5, 5.5, 30.5, 5.5}));
}

TEST(Histogram, FineFoldMatchesDirectBinning) {
    std::vector<double> xs, ys;
    unsigned s = 12345;
    for (int i = 0; i < 50000; ++i) {
        s = s * 1103515245u + 12345u;
        xs.push_back((s >> 8) % 100000 / 7.0);
        s = s * 1103515245u + 12345u;
        ys.push_back((s >> 8) % 100000 / 3.0);
    }
    const auto st = collect_points(xs, ys);
    std::vector<u32> direct(1024, 0);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const int c = cell_of(xs[i], st.histogram->min_x, st.histogram->cell_w, 32);
        const int r = cell_of(ys[i], st.histogram->min_y, st.histogram->cell_h, 32);
        ++direct[static_cast<std::size_t>(r * 32 + c)];
    }
    for (std::size_t i = 0; i < 1024; ++i) EXPECT_EQ(direct[i], st.histogram->counts[i]) << i;
}
