#include "planner/selector.hpp"

#include <cmath>

#include "planner/cost.hpp"

namespace vardelin {

namespace {

// Steps of the natural choice after the size and selectivity bars.
IndexKind candidate_for_shape(const DatasetStats& stats, const QueryShape& shape) noexcept {
    const bool points = stats.kind == GeometryKind::Point;
    switch (shape.tag) {
        case QueryShape::Tag::Knn:
        case QueryShape::Tag::Point: return points ? IndexKind::KdTree : IndexKind::RTree;
        case QueryShape::Tag::Range:
            if (!points) return IndexKind::RTree;
            return stats.distribution == Distribution::Uniform ? IndexKind::Grid : IndexKind::KdTree;
    }
    return IndexKind::BruteForce;
}

// The bars are strict: n = 500 may use an index, s = 0.5 and a kNN s = 0.1 pass.
bool index_allowed(const DatasetStats& stats, const QueryShape& shape, double s) noexcept {
    return stats.n >= kMinIndexedItems && !(s > 0.5) && !(shape.is_knn() && s > 0.1);
}

}  // namespace

IndexKind natural_candidate(const DatasetStats& stats, const QueryShape& shape) noexcept {
    if (stats.n < kMinIndexedItems) return IndexKind::BruteForce;
    if (!index_allowed(stats, shape, selectivity(stats, shape))) return IndexKind::BruteForce;
    return candidate_for_shape(stats, shape);
}

IndexKind plan_access_with_kind(const DatasetStats& stats, const QueryShape& shape, u64 q, IndexMode mode,
                                const CostFactors& cost_factors, IndexKind candidate) noexcept {
    switch (mode.tag) {
        case IndexMode::Tag::Explicit: return mode.kind;
        case IndexMode::Tag::None: return IndexKind::BruteForce;
        case IndexMode::Tag::Eager: return candidate;
        case IndexMode::Tag::Auto: break;
    }
    if (candidate == IndexKind::BruteForce) return IndexKind::BruteForce;
    const CostModel cost(cost_factors, stats.n, q, selectivity(stats, shape), shape.is_knn());
    // Equal costs and NaN on either side keep the scan.
    return cost.scan() > cost.total(candidate) ? candidate : IndexKind::BruteForce;
}

IndexKind plan_with_built(const DatasetStats& stats, const QueryShape& shape, u64 q, IndexMode mode,
                          const CostFactors& cost_factors, const BuiltKinds& built) noexcept {
    if (mode.tag != IndexMode::Tag::Auto) {
        return plan_access_with_kind(stats, shape, q, mode, cost_factors, natural_candidate(stats, shape));
    }
    const double s = selectivity(stats, shape);
    const CostModel cost(cost_factors, stats.n, q, s, shape.is_knn());
    IndexKind best = IndexKind::BruteForce;
    double best_cost = cost.scan();
    // A built brute-force index is no cheaper than the scan it is: only the trees and the grid
    // compete, already paid for.
    for (IndexKind kind : {IndexKind::RTree, IndexKind::KdTree, IndexKind::Grid}) {
        if (!built[static_cast<std::size_t>(kind)]) continue;
        const double c = cost.query(kind);
        if (best_cost > c) {
            best = kind;
            best_cost = c;
        }
    }
    if (index_allowed(stats, shape, s)) {
        const IndexKind candidate = candidate_for_shape(stats, shape);
        if (best_cost > cost.total(candidate)) best = candidate;
    }
    return best;
}

bool flip_point_polygon_join(const DatasetStats& stats, const QueryShape& shape, u64 q, IndexMode mode,
                             const CostFactors& cost_factors, IndexKind kind, bool kind_built,
                             double distance) noexcept {
    if (!std::isfinite(distance) || distance < 0.0) return false;
    if (q == 0 || mode.tag != IndexMode::Tag::Auto || stats.n == 0) return false;
    const double s = shape.tag == QueryShape::Tag::Range ? area_selectivity(stats, shape.box)
                                                         : selectivity(stats, shape);
    const CostModel cost(cost_factors, stats.n, q, s, shape.is_knn());
    const double normal = (kind_built ? 0.0 : cost.build(kind)) + cost.query(kind);
    const double qf = static_cast<double>(q);
    const double flipped =
        qf * cost_factors.grid_build_ns_per_item + (std::fmax(s * qf, 1.0) * cost.n) * cost_factors.grid_range_ns;
    return normal > flipped;
}

}  // namespace vardelin
