#include "engine/polygon_self_join.hpp"

#include "core/error.hpp"
#include "engine/indexes.hpp"
#include "query/batch/self_join.hpp"

namespace vardelin {

Metered<Buffer<u32>> polygon_intersects_self_join(Engine& engine, RunUnlocked unlocked) {
    require_dataset(engine, DatasetKind::Polygons, Operation::PolygonIntersectsSelfJoin);
    MeteredCall call(engine, Operation::PolygonIntersectsSelfJoin);
    // Every part searches once: n point-selective queries over n items, the R-tree priced
    // against the scan.
    const IndexUse use = call.plan_and_build(QueryShape::point(0.0, 0.0), engine.stats.n, IndexKind::RTree);
    const PolygonLayout layout = engine.layout();
    Buffer<u32> pairs;
    unlocked([&] {
        engine.indexes.visit_parts(use.served, [&](const auto& index) {
            pairs = query::batch::par_polygon_intersects_join(index, layout);
        });
    });
    if (engine.part_poly) pairs = query::batch::logical_pairs(std::move(pairs), view(engine.part_poly));
    const u64 rows = pairs.size() / 2;
    return {std::move(call), std::move(pairs), rows};
}

}  // namespace vardelin
