#include "engine/range_query.hpp"

#include "core/timing.hpp"
#include "engine/index_search.hpp"
#include "engine/part_layout.hpp"
#include "engine/planning.hpp"
#include "engine/query_frame.hpp"
#include "query/multipoly.hpp"
#include "query/range.hpp"

namespace vardelin {

std::vector<u64> range_query(Engine& engine, double min_x, double min_y, double max_x, double max_y) {
    const Stopwatch clock;
    const Box raw{min_x, min_y, max_x, max_y};
    const Box box = normalised_box(raw);
    std::vector<u64> hits;
    if (nothing_under(engine, box)) {
        engine.metrics.record(Operation::RangeQuery, kNoIndexColumn, clock.elapsed(), 0, 0);
        return hits;
    }
    const IndexUse use = plan_and_build_index(engine, QueryShape::range(box), 1);
    if (engine.is_polygons()) {
        const PartLayout l = part_layout(engine);
        for_each_in_range(engine, use.served, raw, [&](u32 part) {
            if (polygon_intersects_bbox_raw(l.xs, l.ys, l.ring_offsets, l.poly_offsets, part, min_x, min_y, max_x,
                                            max_y)) {
                hits.push_back(part);
            }
        });
    } else {
        range_in(engine, use.served, raw, hits);
    }
    scan_delta_box(engine, use.served, raw, hits);
    if (engine.part_poly) hits = query::multipoly::dedup_indices(std::move(hits), view(engine.part_poly));
    engine.metrics.record(Operation::RangeQuery, column_of(use.planned), clock.elapsed(), use.build_ns, hits.size());
    return hits;
}

}  // namespace vardelin
