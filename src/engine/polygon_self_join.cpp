#include "engine/polygon_self_join.hpp"

#include <type_traits>

#include "core/error.hpp"
#include "engine/indexes.hpp"
#include "index/slots.hpp"
#include "planner/selector.hpp"
#include "query/batch/self_join.hpp"

namespace vardelin {

IndexKind self_join_kind(const Engine& engine) noexcept {
    // Every part searches once: n point-selective queries over n items, priced for the R-tree
    // against the scan.
    const u64 n = engine.stats.n;
    return plan_access_with_kind(engine.stats, QueryShape::point(0.0, 0.0), n, engine.index_mode,
                                 engine.cost_factors, IndexKind::RTree);
}

Metered<std::vector<u32>> polygon_intersects_self_join(Engine& engine, RunUnlocked unlocked) {
    if (!engine.is_polygons()) throw Error("polygon_intersects_self_join requires a polygon dataset");
    MeteredCall call(engine, Operation::PolygonIntersectsSelfJoin);
    const IndexUse use = call.build(self_join_kind(engine));
    const PolygonLayout layout = engine.layout();
    std::vector<u32> pairs;
    unlocked([&] {
        engine.indexes.visit(use.served, [&]<class Index>(const Index& index) {
            // Over parts only the scan and the R-tree index part boxes; the planned k-d tree or
            // grid is served by the R-tree (use_index), so no other kind arrives here.
            if constexpr (std::is_same_v<Index, BruteForce> || std::is_same_v<Index, PackedRTree>) {
                pairs = query::batch::par_polygon_intersects_join(index, layout);
            } else {
                throw InternalError("self-join over an index of vertices");
            }
        });
    });
    if (engine.part_poly) pairs = query::batch::logical_pairs(std::move(pairs), view(engine.part_poly));
    const u64 rows = pairs.size() / 2;
    return {std::move(call), std::move(pairs), rows};
}

}  // namespace vardelin
