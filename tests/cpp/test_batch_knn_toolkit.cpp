#include <algorithm>
#include <limits>
#include <new>
#include <numeric>
#include <random>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "query/batch/knn_scratch.hpp"
#include "query/batch/knn_triple.hpp"
#include "query/batch/query_tiles.hpp"

using namespace vardelin;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

using Best = std::vector<NearestPolygon>;

bool key_less(const KnnTriple& a, const KnnTriple& b) {
    return std::tuple(distance_bits(a.distance), a.target) < std::tuple(distance_bits(b.distance), b.target);
}

bool same_records(const std::vector<KnnTriple>& a, const std::vector<KnnTriple>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (distance_bits(a[i].distance) != distance_bits(b[i].distance) || a[i].target != b[i].target ||
            a[i].query != b[i].query) {
            return false;
        }
    }
    return true;
}

// Distances from a small set so that ties are common, +0, +inf and values of every scale.
std::vector<KnnTriple> random_records(std::size_t n, std::mt19937_64& gen, u32 first_query) {
    const double distances[] = {0.0, 0.5, 0.5, 1e-300, 3.25, 1e12, kInf, 2.0};
    std::vector<KnnTriple> out;
    for (std::size_t i = 0; i < n; ++i) {
        const u32 target = gen() % 3 == 0 ? static_cast<u32>(gen()) : static_cast<u32>(gen() % 5);
        out.push_back({distances[gen() % 8], target, first_query + static_cast<u32>(i)});
    }
    return out;
}

}  // namespace

TEST(InsertNearest, MatchesBestDistancePerIdRankedByFirstArrival) {
    // Oracle: every id with its smallest distance, stamped with the insertion that first
    // reached it; ranked by (distance NaN last, stamp); the first k. Repeated ids, ties with
    // the k-th and a bound of 0 come up in every trial.
    std::mt19937_64 gen(9);
    for (int trial = 0; trial < 300; ++trial) {
        const u64 k = gen() % 7;
        Best best;
        std::vector<std::tuple<double, int, u32>> seen;  // distance, stamp, id
        for (int step = 0; step < 40; ++step) {
            const u32 id = static_cast<u32>(gen() % 10);
            const double d = gen() % 9 == 0 ? std::numeric_limits<double>::quiet_NaN() : static_cast<double>(gen() % 6);
            insert_nearest(best, id, k, d);
            ASSERT_LE(best.size(), k);
            for (std::size_t i = 1; i < best.size(); ++i) ASSERT_FALSE(nan_last_less(best[i].distance, best[i - 1].distance));
            auto it = std::find_if(seen.begin(), seen.end(), [&](const auto& s) { return std::get<2>(s) == id; });
            if (it == seen.end()) {
                seen.emplace_back(d, step, id);
            } else if (nan_last_less(d, std::get<0>(*it))) {
                *it = {d, step, id};
            }
        }
        std::sort(seen.begin(), seen.end(), [](const auto& a, const auto& b) {
            if (nan_last_less(std::get<0>(a), std::get<0>(b))) return true;
            if (nan_last_less(std::get<0>(b), std::get<0>(a))) return false;
            return std::get<1>(a) < std::get<1>(b);
        });
        seen.resize(std::min<std::size_t>(seen.size(), k));
        ASSERT_EQ(best.size(), seen.size());
        for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(best[i].id, std::get<2>(seen[i])) << trial;
    }
}

TEST(KnnScratch, CapacitiesFollowKClampedToWhatCanBeFound) {
    const KnnScratch s = KnnScratch::with_capacity(5, 1000);
    EXPECT_GE(s.candidates.capacity(), 10u);
    EXPECT_GE(s.range_hits.capacity(), 20u);
    EXPECT_GE(s.ranked.capacity(), 20u);
    EXPECT_GE(s.best.capacity(), 6u);
    EXPECT_TRUE(s.candidates.empty() && s.range_hits.empty() && s.ranked.empty() && s.best.empty());
    // k = 2^64 - 1 against 100 parts: sized by the parts, and k + 1 does not wrap.
    const KnnScratch huge = KnnScratch::with_capacity(std::numeric_limits<u64>::max(), 100);
    EXPECT_GE(huge.best.capacity(), 101u);
    EXPECT_LT(huge.best.capacity(), 1000u);
    EXPECT_LT(huge.ranked.capacity(), 1000u);
    EXPECT_EQ(KnnScratch::with_capacity(7, 0).candidates.capacity(), 0u);
    EXPECT_THROW(KnnScratch::with_capacity(u64{1} << 62, u64{1} << 62), std::bad_alloc);  // 4k overflows
    EXPECT_THROW(KnnScratch::with_capacity(u64{1} << 44, u64{1} << 44), std::bad_alloc);  // no machine
}

TEST(KnnTriple, RunSortIsStableByDistanceThenTarget) {
    std::mt19937_64 gen(3);
    for (const std::size_t n : {0u, 1u, 2u, 255u, 256u, 5000u}) {
        std::vector<KnnTriple> run = random_records(n, gen, 0);
        std::vector<KnnTriple> want = run;
        std::stable_sort(want.begin(), want.end(), key_less);
        sort_knn_run(run);
        EXPECT_TRUE(same_records(run, want)) << n;
    }
    // One distance and small targets: only the levels that differ are sorted on, still stably.
    std::vector<KnnTriple> flat;
    for (u32 i = 0; i < 3000; ++i) flat.push_back({1.5, i % 3, i});
    std::vector<KnnTriple> want = flat;
    std::stable_sort(want.begin(), want.end(), key_less);
    sort_knn_run(flat);
    EXPECT_TRUE(same_records(flat, want));
}

TEST(KwayMerge, EqualsStableSortOfTheConcatenation) {
    std::vector<std::vector<KnnTriple>> example{{{1.0, 5, 0}, {2.0, 1, 1}}, {{1.0, 3, 2}}};
    const std::vector<KnnTriple> merged = kway_merge(std::move(example));
    EXPECT_TRUE(same_records(merged, {{1.0, 3, 2}, {1.0, 5, 0}, {2.0, 1, 1}}));
    EXPECT_TRUE(kway_merge({{}, {}, {}}).empty());
    EXPECT_TRUE(kway_merge({}).empty());

    std::mt19937_64 gen(5);
    std::vector<std::vector<KnnTriple>> runs;
    std::vector<KnnTriple> all;
    u32 query = 0;
    for (int r = 0; r < 40; ++r) {
        std::vector<KnnTriple> run = random_records(gen() % 4 == 0 ? 0 : gen() % 400, gen, query);
        query += static_cast<u32>(run.size());
        std::stable_sort(run.begin(), run.end(), key_less);
        all.insert(all.end(), run.begin(), run.end());
        runs.push_back(std::move(run));
    }
    std::stable_sort(all.begin(), all.end(), key_less);
    EXPECT_TRUE(same_records(kway_merge(std::move(runs)), all));
}

TEST(KwayMerge, StretchesMergedApartGiveTheOrderOfOneMerge) {
    // Enough records for many stretches, few distinct keys: a cut that let equal keys straddle it
    // would put a later run's record before an earlier run's.
    std::mt19937_64 gen(11);
    std::vector<std::vector<KnnTriple>> runs;
    std::vector<KnnTriple> all;
    u32 query = 0;
    for (int r = 0; r < 300; ++r) {
        std::vector<KnnTriple> run(gen() % 3000);
        for (KnnTriple& t : run) t = {static_cast<double>(gen() % 7) * 0.5, static_cast<u32>(gen() % 3), query++};
        std::stable_sort(run.begin(), run.end(), key_less);
        all.insert(all.end(), run.begin(), run.end());
        runs.push_back(std::move(run));
    }
    std::stable_sort(all.begin(), all.end(), key_less);
    const MergeStretches stretches = merge_stretches(runs);
    EXPECT_GT(stretches.count(), 1u);
    EXPECT_EQ(stretches.offset.back(), all.size());
    std::vector<int> written(all.size(), 0);
    std::vector<KnnTriple> merged(all.size());
    kway_merge_each(runs, [&](std::size_t i, const KnnTriple& t) {
        merged[i] = t;
        ++written[i];
    });
    EXPECT_TRUE(std::all_of(written.begin(), written.end(), [](int w) { return w == 1; }));
    EXPECT_TRUE(same_records(merged, all));
    EXPECT_TRUE(same_records(kway_merge(std::move(runs)), all));
}

TEST(KwayMerge, SlicedTilesMergeIntoTheOrderOfWholeTiles) {
    // Results of crowded tiles, cut into slices, sorted per slice and merged, must come out as
    // the whole tiles' runs would: the sorted join may split tiles without changing its answer.
    std::mt19937_64 gen(8);
    std::vector<double> xs(6000), ys(6000);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const bool crowd = i % 10 != 0;
        xs[i] = crowd ? 1.0 : static_cast<double>(gen() % 1000);
        ys[i] = crowd ? 1.0 : static_cast<double>(gen() % 1000);
    }
    const QueryTiles tiles = build_query_tiles(xs, ys, morton_order(xs, ys));
    const double distances[] = {0.0, 0.25, 0.25, 4.0};
    const auto results_of = [&](std::span<const u32> positions) {
        std::vector<KnnTriple> run;
        for (const u32 q : positions) {
            for (u32 j = 0; j < 3; ++j) run.push_back({distances[(q + j) % 4], (q * 7 + j) % 5, q});
        }
        sort_knn_run(run);
        return run;
    };
    std::vector<std::vector<KnnTriple>> whole, sliced;
    for (const auto& t : tiles) whole.push_back(results_of(t));
    for (const TileSlice& s : slice_query_tiles(tiles, 100)) sliced.push_back(results_of(s.positions));
    ASSERT_GT(sliced.size(), 50u);
    EXPECT_TRUE(same_records(kway_merge(std::move(sliced)), kway_merge(std::move(whole))));
}
