// The sorted kNN join's run sort against std::stable_sort over every byte of the key: the
// Python tests sort polygon ids past 2^16, but only here do they reach the top byte.
#include <algorithm>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "query/batch/knn_triple.hpp"

using namespace vardelin;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

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
