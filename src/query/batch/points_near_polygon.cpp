#include "query/batch/points_near_polygon.hpp"

#include "core/parallel.hpp"
#include "query/batch/polygon_within_distance.hpp"

namespace vardelin {

namespace {

constexpr std::size_t kSerialCandidates = std::size_t{1} << 12;
constexpr std::size_t kCandidatesPerTask = std::size_t{1} << 11;

// The box of all rings of a part (holes included, since the distance reaches them too) grown
// for d: a point outside it is farther than d from every ring and contains nowhere in the part,
// so the part can be skipped for it without changing the answer.
Box part_reach_box(const PolygonLayout& polygon, std::size_t p, double d) noexcept {
    Box b = kFoldStart;
    const IndexRange rings = polygon.part_rings(p);
    for (u64 r = rings.begin; r < rings.end; ++r) {
        const IndexRange ring = polygon.ring(r);
        for (u64 i = ring.begin; i < ring.end; ++i) fold_point(b, polygon.xs[i], polygon.ys[i]);
    }
    return reach_box(b, d);
}

}  // namespace

Box polygon_reach_box(const PolygonLayout& polygon, double d) noexcept {
    Box b = kFoldStart;
    for (std::size_t i = 0; i < polygon.coordinate_count(); ++i) fold_point(b, polygon.xs[i], polygon.ys[i]);
    return reach_box(b, d);
}

std::vector<u64> points_near_polygon(const std::vector<PointHit>& candidates, const PolygonLayout& polygon, double d) {
    const std::size_t parts = polygon.part_count();
    if (!distance_matches_some(d) || parts == 0) return {};
    std::vector<Box> boxes(parts);
    for (std::size_t p = 0; p < parts; ++p) boxes[p] = part_reach_box(polygon, p, d);
    const auto keep = [&](double x, double y) {
        if (nan_query(x, y)) return false;
        for (std::size_t p = 0; p < parts; ++p) {
            if (point_in_box(x, y, boxes[p]) && part_within(polygon, p, x, y, d)) return true;
        }
        return false;
    };
    const auto keep_range = [&](std::size_t, std::size_t b, std::size_t e) {
        std::vector<u64> kept;
        for (std::size_t i = b; i < e; ++i) {
            if (keep(candidates[i].x, candidates[i].y)) kept.push_back(candidates[i].id);
        }
        return kept;
    };
    if (candidates.size() < kSerialCandidates) return keep_range(0, 0, candidates.size());
    return concat_ordered(map_chunks(candidates.size(), kCandidatesPerTask, keep_range));
}

}  // namespace vardelin
