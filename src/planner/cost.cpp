#include "planner/cost.hpp"

#include <algorithm>
#include <cmath>

namespace vardelin {

double area_selectivity(const DatasetStats& stats, const Box& box) noexcept {
    if (!stats.extent) return 1.0;
    const Box& ex = *stats.extent;
    double area = (ex.max_x - ex.min_x) * (ex.max_y - ex.min_y);
    if (std::isnan(area)) area = 0.0;
    area = std::fmax(area, 0.0);
    if (area <= 0.0) return 1.0;
    // fmin takes 1 for a NaN quotient (an infinite extent over an infinite box).
    return std::fmin(std::fabs((box.max_x - box.min_x) * (box.max_y - box.min_y)) / area, 1.0);
}

namespace {

double histogram_selectivity(const DatasetStats& stats, const SpatialHistogram& h, const Box& box) noexcept {
    if (stats.n == 0) return 1.0;
    const u64 sum = h.count_in(box);
    return std::fmin(static_cast<double>(sum) / static_cast<double>(stats.n), 1.0);
}

}  // namespace

double selectivity(const DatasetStats& stats, const QueryShape& shape) noexcept {
    const double items = static_cast<double>(std::max<u64>(stats.n, 1));
    switch (shape.tag) {
        case QueryShape::Tag::Knn: return std::fmin(static_cast<double>(shape.k) / items, 1.0);
        case QueryShape::Tag::Point: return 1.0 / items;
        case QueryShape::Tag::Range:
            if (stats.histogram) return histogram_selectivity(stats, *stats.histogram, shape.box);
            return area_selectivity(stats, shape.box);
    }
    return 1.0;
}

CostModel::CostModel(const CostFactors& factors, u64 items, u64 queries, double selectivity_, bool is_knn) noexcept
    : c(factors), n(static_cast<double>(items)), q(static_cast<double>(queries)), s(selectivity_), knn(is_knn) {}

// log2 0 is -inf and fmax ignores a NaN operand, so an empty dataset still costs one level.
double CostModel::log_n() const noexcept { return std::fmax(std::log2(n), 1.0); }

double CostModel::matches() const noexcept { return std::fmax(s * n, 1.0); }

double CostModel::scan() const noexcept {
    return (q * n) * (knn ? c.knn_scan_ns_per_item : c.bbox_scan_ns_per_item);
}

double CostModel::build(IndexKind kind) const noexcept {
    switch (kind) {
        case IndexKind::BruteForce: return 0.0;
        case IndexKind::RTree: return (log_n() * n) * c.rtree_build_ns_per_item;
        case IndexKind::KdTree: return (log_n() * n) * c.kdtree_build_ns_per_item;
        case IndexKind::Grid: break;
    }
    return c.grid_build_ns_per_item * n;
}

double CostModel::query(IndexKind kind) const noexcept {
    switch (kind) {
        case IndexKind::BruteForce: return scan();
        case IndexKind::RTree: return ((log_n() + matches()) * q) * (knn ? c.rtree_knn_ns : c.rtree_range_ns);
        case IndexKind::KdTree: return ((log_n() + matches()) * q) * (knn ? c.kdtree_knn_ns : c.kdtree_range_ns);
        case IndexKind::Grid: break;
    }
    return (matches() * q) * c.grid_range_ns;
}

}  // namespace vardelin
