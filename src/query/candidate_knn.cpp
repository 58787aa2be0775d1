#include "query/candidate_knn.hpp"

#include <algorithm>
#include <string>

#include "core/error.hpp"
#include "core/squares.hpp"

namespace vardelin {

namespace {

// The m nearest of `pairs` to the front, nearest first by `closer`: a selection, then a sort of
// only what it selected.
template <class Pair, class Closer>
void select_nearest(std::vector<Pair>& pairs, std::size_t m, const Closer& closer) {
    if (m < pairs.size()) {
        std::nth_element(pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(m - 1), pairs.end(), closer);
    }
    std::sort(pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(m), closer);
}

struct Ranked {
    double d2;
    u64 row;
};

struct ExactlyRanked {
    SquareKey key;
    u64 row;
};

}  // namespace

std::vector<u64> knn_indices_from_candidates(const PointSpans& points, u64 k, std::span<const u32> candidates,
                                             double x, double y) {
    const std::span<const double> xs = points.xs(), ys = points.ys();
    const std::size_t rows = points.size();
    for (const u32 c : candidates) {
        if (c >= rows) {
            throw Error("candidate " + std::to_string(c) + " is out of bounds for " + std::to_string(rows) + " rows");
        }
    }
    if (k == 0 || candidates.empty()) return {};

    std::vector<Ranked> pairs;
    pairs.reserve(candidates.size());
    for (const u32 c : candidates) {
        const double dy = ys[c] - y;
        const double dx = xs[c] - x;
        pairs.push_back({dy * dy + dx * dx, c});
    }
    const std::size_t m = static_cast<std::size_t>(std::min<u64>(k, pairs.size()));
    select_nearest(pairs, m, [](const Ranked& a, const Ranked& b) { return nan_last_less(a.d2, b.d2); });

    std::vector<u64> out(m);
    // The selection is exact when its keys are (see index/exact_ranking.hpp); else the
    // candidates are ranked again with keys carried past the exponent range.
    const bool exact = std::all_of(pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(m), [&](const Ranked& p) {
        return squared_form_holds(p.d2) || (p.d2 == 0.0 && xs[p.row] == x && ys[p.row] == y);
    });
    if (exact) {
        for (std::size_t i = 0; i < m; ++i) out[i] = pairs[i].row;
        return out;
    }
    std::vector<ExactlyRanked> keyed;
    keyed.reserve(candidates.size());
    for (const u32 c : candidates) keyed.push_back({square_key_between(xs[c], ys[c], x, y), c});
    select_nearest(keyed, m, [](const ExactlyRanked& a, const ExactlyRanked& b) { return a.key < b.key; });
    for (std::size_t i = 0; i < m; ++i) out[i] = keyed[i].row;
    return out;
}

}  // namespace vardelin
