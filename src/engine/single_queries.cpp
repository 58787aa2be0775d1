#include "engine/single_queries.hpp"

#include "core/box.hpp"
#include "core/error.hpp"
#include "engine/delta.hpp"
#include "index/exact_ranking.hpp"
#include "index/search.hpp"
#include "query/batch/knn_join.hpp"
#include "query/geodesy.hpp"
#include "query/geometry/part_contains_point.hpp"
#include "query/geometry/part_meets_box.hpp"
#include "query/multipoly.hpp"
#include "query/radius.hpp"

namespace vardelin {

namespace {

// True when a query over the normalised box can find nothing: no point waits in the delta
// buffer and the statistics histogram of a point dataset counts no point in any cell under
// the box. Without a histogram (empty or non-finite data, polygons) the answer is false.
bool nothing_under(const Engine& engine, const Box& normalised) noexcept {
    if (!engine.delta_xs.empty() || engine.stats.kind != GeometryKind::Point || !engine.stats.histogram) {
        return false;
    }
    return !engine.stats.histogram->has_any_in_bbox(normalised);
}

// Appends the ids of the delta points inside the closed raw box and counts the scanned delta
// length as the call's delta work, which may merge the buffer. Nothing when it is empty.
void scan_delta_box(Engine& engine, IndexKind kind, const Box& raw, std::vector<u64>& hits) {
    if (engine.delta_xs.empty()) return;
    const std::vector<u32> found = delta_range(engine, raw.min_x, raw.min_y, raw.max_x, raw.max_y);
    hits.insert(hits.end(), found.begin(), found.end());
    add_delta_work(engine, kind, engine.delta_xs.size());
}

std::vector<u64> logical_polygons(const Engine& engine, std::vector<u64>&& parts) {
    if (!engine.part_poly) return std::move(parts);
    return dedup_indices(std::move(parts), view(engine.part_poly));
}

}  // namespace

Metered<std::vector<Neighbor>> knn(Engine& engine, double x, double y, u64 k) {
    MeteredCall call(engine, Operation::Knn);
    const IndexUse use = call.plan_and_build(QueryShape::knn(k, x, y), 1);
    std::vector<Neighbor> found;
    engine.indexes.visit(use.served, [&](const auto& index) { nearest_into(index, x, y, k, found); });
    // A NaN query point ranks nothing, nor any waiting point; the call still counts its scan.
    if (!nan_query(x, y)) {
        const RankedItems items = engine.is_polygons() ? RankedItems::parts(engine.layout())
                                                       : RankedItems::points(engine.points(), engine.delta());
        if (!items.waiting().empty()) rank_with_waiting(items.main(), items.waiting(), x, y, k, found);
        make_ranking_exact(items, x, y, static_cast<std::size_t>(std::min<u64>(k, items.size())), found, 0);
    }
    if (!engine.delta_xs.empty()) add_delta_work(engine, use.served, engine.delta_xs.size());
    const u64 rows = found.size();
    return {std::move(call), std::move(found), rows};
}

Metered<std::vector<u64>> range_query(Engine& engine, double min_x, double min_y, double max_x, double max_y) {
    MeteredCall call(engine, Operation::RangeQuery);
    const Box raw{min_x, min_y, max_x, max_y};
    const Box box = normalised_box(raw);
    if (nothing_under(engine, box)) return {std::move(call), {}, 0};
    const IndexUse use = call.plan_and_build(QueryShape::range(box), 1);
    std::vector<u64> hits;
    if (engine.is_polygons()) {
        const PolygonLayout layout = engine.layout();
        engine.indexes.visit(use.served, [&](const auto& index) {
            for_each_in_range(index, raw, [&](u32 part) {
                if (part_meets_box(layout, part, raw)) hits.push_back(part);
            });
        });
    } else {
        engine.indexes.visit(use.served, [&](const auto& index) { range_into(index, raw, hits); });
    }
    scan_delta_box(engine, use.served, raw, hits);
    hits = logical_polygons(engine, std::move(hits));
    const u64 rows = hits.size();
    return {std::move(call), std::move(hits), rows};
}

Metered<std::vector<u64>> radius_query(Engine& engine, double cx, double cy, double distance) {
    require_dataset(engine, DatasetKind::Points, Operation::RadiusQuery);
    MeteredCall call(engine, Operation::RadiusQuery);
    const bool geographic = engine.coordinate_system == CoordinateSystem::Geographic;
    const RadiusTest test =
        geographic ? HaversineReach{distance}.test(cx, cy) : PlanarReach{distance}.test(cx, cy);
    const Box search =
        geographic ? HaversineReach{distance}.search_box(cx, cy) : PlanarReach{distance}.search_box(cx, cy);
    const Box box = normalised_box(search);
    if (nothing_under(engine, box)) return {std::move(call), {}, 0};
    const IndexUse use = call.plan_and_build(QueryShape::range(box), 1);
    std::vector<u64> hits;
    if (test.keeps_some()) {
        hits = engine.indexes.visit(use.served, [&](const auto& index) { return radius_hits(index, search, test); });
    }
    if (!engine.delta_xs.empty()) {
        const u64 main_length = engine.x().size();
        const PointSpans delta = engine.delta();
        for (std::size_t j = 0; j < delta.size(); ++j) {
            // The box test first, as the index applies it once the point is merged.
            const double px = delta.x(j), py = delta.y(j);
            if (point_in_box(px, py, search) && test.keeps(px, py)) hits.push_back(main_length + j);
        }
        add_delta_work(engine, use.served, engine.delta_xs.size());
    }
    const u64 rows = hits.size();
    return {std::move(call), std::move(hits), rows};
}

Metered<std::vector<u64>> contains_query(Engine& engine, double x, double y) {
    MeteredCall call(engine, Operation::ContainsQuery);
    const Box near{x + (-kPointTolerance), y + (-kPointTolerance), x + kPointTolerance, y + kPointTolerance};
    // The whole tolerance box is looked up, not only the point's own cell: a point within the
    // tolerance can lie across a cell border.
    if (nothing_under(engine, normalised_box(near))) return {std::move(call), {}, 0};
    const IndexUse use = call.plan_and_build(QueryShape::point(x, y), 1);
    std::vector<u64> hits;
    if (engine.is_polygons()) {
        const PolygonLayout layout = engine.layout();
        engine.indexes.visit(use.served, [&](const auto& index) {
            for_each_in_range(index, Box{x, y, x, y}, [&](u32 part) {
                if (part_contains_point(layout, part, x, y)) hits.push_back(part);
            });
        });
        hits = logical_polygons(engine, std::move(hits));
    } else {
        engine.indexes.visit(use.served, [&](const auto& index) { range_into(index, near, hits); });
        scan_delta_box(engine, use.served, near, hits);
    }
    const u64 rows = hits.size();
    return {std::move(call), std::move(hits), rows};
}

}  // namespace vardelin
