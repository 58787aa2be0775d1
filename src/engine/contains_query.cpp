#include "engine/contains_query.hpp"

#include "core/timing.hpp"
#include "engine/index_search.hpp"
#include "engine/part_layout.hpp"
#include "engine/planning.hpp"
#include "engine/query_frame.hpp"
#include "query/multipoly.hpp"
#include "query/range.hpp"

namespace vardelin {

std::vector<u64> contains_query(Engine& engine, double x, double y) {
    const Stopwatch clock;
    const Box near{x + (-kPointTolerance), y + (-kPointTolerance), x + kPointTolerance, y + kPointTolerance};
    std::vector<u64> hits;
    // The whole tolerance box is looked up, not only the point's own cell: a point within the
    // tolerance can lie across a cell border.
    if (nothing_under(engine, normalised_box(near))) {
        engine.metrics.record(Operation::ContainsQuery, kNoIndexColumn, clock.elapsed(), 0, 0);
        return hits;
    }
    const IndexUse use = plan_and_build_index(engine, QueryShape::point(x, y), 1);
    if (engine.is_polygons()) {
        const PartLayout l = part_layout(engine);
        for_each_in_range(engine, use.served, Box{x, y, x, y}, [&](u32 part) {
            if (pip_raw(l.xs, l.ys, l.ring_offsets, l.poly_offsets, part, x, y)) hits.push_back(part);
        });
        if (engine.part_poly) hits = query::multipoly::dedup_indices(std::move(hits), view(engine.part_poly));
    } else {
        range_in(engine, use.served, near, hits);
        scan_delta_box(engine, use.served, near, hits);
    }
    engine.metrics.record(Operation::ContainsQuery, column_of(use.planned), clock.elapsed(), use.build_ns,
                          hits.size());
    return hits;
}

}  // namespace vardelin
