#pragma once
#include "index/kind.hpp"
#include "planner/cost_factors.hpp"
#include "planner/query_shape.hpp"
#include "stats/types.hpp"

namespace vardelin {

// Fraction of the items one query of this shape touches, in [0, 1] and never NaN. Range
// shapes read the histogram when there is one; whole border cells count, so it errs upwards.
double selectivity(const DatasetStats& stats, const QueryShape& shape) noexcept;

// The histogram-free estimate of a box: its area over the extent's area, 1 when that ratio is
// meaningless (no extent, no area, NaN).
double area_selectivity(const DatasetStats& stats, const Box& box) noexcept;

// Nanosecond prices of answering q queries of one shape over n items with selectivity s. Every
// product is evaluated left to right as the cost table writes it: the comparisons built on
// these prices are strict, so the rounding of each step is part of the decision.
struct CostModel {
    const CostFactors& c;
    double n;
    double q;
    double s;
    bool knn;

    CostModel(const CostFactors& factors, u64 items, u64 queries, double selectivity_, bool is_knn) noexcept;

    double log_n() const noexcept;   // max(log2 n, 1)
    double matches() const noexcept; // max(s * n, 1)

    double scan() const noexcept;
    // BruteForce builds nothing and queries by the scan; kinds other than the two trees are
    // priced as the grid.
    double build(IndexKind kind) const noexcept;
    double query(IndexKind kind) const noexcept;
    double total(IndexKind kind) const noexcept { return build(kind) + query(kind); }
};

}  // namespace vardelin
