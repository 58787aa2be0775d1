#include "engine/radius_query.hpp"

#include "core/error.hpp"
#include "core/timing.hpp"
#include "engine/delta_work.hpp"
#include "engine/index_search.hpp"
#include "engine/planning.hpp"
#include "engine/query_frame.hpp"
#include "query/batch/par_radius.hpp"
#include "query/geodesy.hpp"

namespace vardelin {

void radius_query(Engine& engine, double cx, double cy, double distance, const RadiusSink& sink) {
    if (engine.is_polygons()) throw Error("radius_query requires a point dataset");
    const Stopwatch clock;
    const bool geographic = engine.coordinate_system == CoordinateSystem::Geographic;
    const RadiusTest test =
        geographic ? RadiusTest::haversine(cx, cy, distance) : RadiusTest::planar(cx, cy, distance);
    const Box search = geographic ? geographic_search_box(cx, cy, distance)
                                  : Box{cx - distance, cy - distance, cx + distance, cy + distance};
    const Box box = normalised_box(search);
    if (nothing_under(engine, box)) {
        sink({});
        engine.metrics.record(Operation::RadiusQuery, kNoIndexColumn, clock.elapsed(), 0, 0);
        return;
    }
    const IndexUse use = plan_and_build_index(engine, QueryShape::range(box), 1);
    std::vector<PointHit> candidates;
    point_range_in(engine, use.served, search, candidates);
    std::vector<u64> hits = par_radius(candidates, test);
    if (!engine.delta_xs.empty()) {
        const u64 main_length = engine.x().size();
        const std::size_t count = std::min(engine.delta_xs.size(), engine.delta_ys.size());
        for (std::size_t j = 0; j < count; ++j) {
            // The box test first, as the index applies it once the point is merged.
            const double px = engine.delta_xs[j], py = engine.delta_ys[j];
            if (point_in_box(px, py, search) && test.keeps(px, py)) hits.push_back(main_length + j);
        }
        add_delta_work(engine, use.served, engine.delta_xs.size());
    }
    const u64 rows = hits.size();
    sink(std::move(hits));
    engine.metrics.record(Operation::RadiusQuery, column_of(use.planned), clock.elapsed(), use.build_ns, rows);
}

}  // namespace vardelin
