// The query tiles of the kNN joins to polygons: the answers, on any pool size and however the
// tiles are cut, are checked from Python; here every position lands once in its own tile, even
// on the extent's edge, where a cell past the last would index past the tiles.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "query/batch/query_tiles.hpp"

using namespace vardelin;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Points {
    std::vector<double> xs, ys;
};

Points scattered(std::size_t n, unsigned seed) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> u(-50.0, 150.0);
    Points p;
    for (std::size_t i = 0; i < n; ++i) {
        p.xs.push_back(u(gen));
        p.ys.push_back(u(gen));
    }
    return p;
}

// Written from the definition, not from the code: truncation toward zero with saturation
// (NaN and negatives to 0).
u32 cell(double v, double lo, double hi, double cells) {
    const double scale = hi > lo ? cells / (hi - lo) : 0.0;
    const double t = (v - lo) * scale;
    if (!(t > 0)) return 0;
    if (t >= 4294967296.0) return 4294967295u;
    return static_cast<u32>(std::trunc(t));
}

struct Extent {
    double lo_x = INFINITY, hi_x = -INFINITY, lo_y = INFINITY, hi_y = -INFINITY;
    explicit Extent(const Points& p) {
        for (std::size_t i = 0; i < p.xs.size(); ++i) {
            if (!std::isnan(p.xs[i])) lo_x = std::min(lo_x, p.xs[i]), hi_x = std::max(hi_x, p.xs[i]);
            if (!std::isnan(p.ys[i])) lo_y = std::min(lo_y, p.ys[i]), hi_y = std::max(hi_y, p.ys[i]);
        }
    }
};

std::size_t expected_tile(const Points& p, u32 id) {
    const Extent e(p);
    const u32 tx = std::min(cell(p.xs[id], e.lo_x, e.hi_x, 16.0), 15u);
    const u32 ty = std::min(cell(p.ys[id], e.lo_y, e.hi_y, 16.0), 15u);
    return ty * 16 + tx;
}

void expect_tiles_partition(const Points& p, const std::vector<u32>& order, const QueryTiles& tiles) {
    ASSERT_EQ(tiles.size(), 256u);
    std::vector<std::size_t> rank(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) rank[order[i]] = i;
    std::vector<int> seen(order.size(), 0);
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        for (std::size_t i = 0; i < tiles[t].size(); ++i) {
            const u32 id = tiles[t][i];
            ++seen[id];
            EXPECT_EQ(expected_tile(p, id), t) << "position " << id;
            if (i > 0) {
                EXPECT_LT(rank[tiles[t][i - 1]], rank[id]) << "tile " << t << " out of order";
            }
        }
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), static_cast<std::ptrdiff_t>(order.size()));
}

}  // namespace

TEST(QueryTiles, PartitionThePositionsAndKeepTheirOrder) {
    const QueryTiles none = build_query_tiles({}, {}, {});
    ASSERT_EQ(none.size(), 256u);
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](const auto& t) { return t.empty(); }));

    for (const std::size_t n : {700u, 5000u}) {
        Points p = scattered(n, 5);
        p.xs[3] = kNaN;
        p.ys[4] = kNaN;
        const std::vector<u32> order = morton_order(p.xs, p.ys);
        expect_tiles_partition(p, order, build_query_tiles(p.xs, p.ys, order));
    }

    // The maximum edge maps to 16 and belongs to tile column 15; a vertical line fills only
    // column 0; identical points all land in tile 0.
    Points line;
    for (int i = 0; i <= 16; ++i) {
        line.xs.push_back(2.5);
        line.ys.push_back(i);
    }
    std::vector<u32> order(line.xs.size());
    std::iota(order.begin(), order.end(), 0u);
    const QueryTiles vertical = build_query_tiles(line.xs, line.ys, order);
    for (std::size_t ty = 0; ty < 16; ++ty) {
        const std::vector<u32> want = ty < 15 ? std::vector<u32>{static_cast<u32>(ty)} : std::vector<u32>{15, 16};
        EXPECT_EQ(vertical[ty * 16], want) << ty;
    }
    const QueryTiles sideways = build_query_tiles(line.ys, line.xs, order);
    EXPECT_EQ(sideways[15], (std::vector<u32>{15, 16}));
    const std::vector<double> same(40, 1.25);
    std::vector<u32> ids(40);
    std::iota(ids.begin(), ids.end(), 0u);
    EXPECT_EQ(build_query_tiles(same, same, ids)[0], ids);

    EXPECT_THROW(build_query_tiles(same, same, std::vector<u32>{40}), InternalError);
}
