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
    const std::pair<double, int> cases[] = {{0.5, 0}, {3.0, 3}, {9.0, 3}, {-9.0, 0}, {kNaN, 0}, {kInf, 3}, {-kInf, 0}};
    for (const auto& [v, cell] : cases) EXPECT_EQ(cell_of(v, 0.0, 1.0, 4), cell) << v;
}

// The histogram is not visible from Python: its counts are checked here.
TEST(PointStats, NaNAndInfinityRules) {
    const std::vector<double> same(20, 3.0);
    const auto s = collect_points({same, same});
    ASSERT_TRUE(s.histogram);
    EXPECT_EQ(s.histogram->counts[0], 20u);
    EXPECT_EQ(s.density, 0.0);

    // A NaN x keeps its y in the extent and is counted in column 0.
    const std::vector<double> x2{kNaN, 0.0, 10.0}, y2{5.0, 0.0, 10.0};
    const auto mixed = collect_points({x2, y2});
    ASSERT_TRUE(mixed.extent);
    EXPECT_EQ(mixed.extent->min_x, 0.0);
    EXPECT_EQ(mixed.extent->max_x, 10.0);
    u64 total = 0;
    for (u32 c : mixed.histogram->counts) total += c;
    EXPECT_EQ(total, 3u);
    EXPECT_EQ(mixed.histogram->counts[16 * 32 + 0], 1u);

    // Only the minimum x decides: a -inf x removes the extent, a +inf max does not.
    EXPECT_FALSE(collect_points({std::vector<double>{-kInf, 1.0}, std::vector<double>{0.0, 1.0}}).extent);
    EXPECT_TRUE(collect_points({std::vector<double>{0.0, kInf}, std::vector<double>{0.0, 1.0}}).extent);
}

TEST(Histogram, BoxBeyondExtentReadsBorderColumn) {
    SpatialHistogram h;
    h.min_x = h.min_y = 0;
    h.cell_w = h.cell_h = 1;
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
    const auto st = collect_points({xs, ys});
    std::vector<u32> direct(1024, 0);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const int c = cell_of(xs[i], st.histogram->min_x, st.histogram->cell_w, 32);
        const int r = cell_of(ys[i], st.histogram->min_y, st.histogram->cell_h, 32);
        ++direct[static_cast<std::size_t>(r * 32 + c)];
    }
    EXPECT_EQ(direct, std::vector<u32>(st.histogram->counts.begin(), st.histogram->counts.end()));
}
