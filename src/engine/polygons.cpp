#include "engine/polygons.hpp"

#include <cmath>

#include "core/parallel.hpp"
#include "core/row_limit.hpp"
#include "core/timing.hpp"
#include "stats/collector.hpp"

namespace vardelin {

namespace {

// Offsets are stored signed with the same bits as the decoder's unsigned values.
SharedArray<i64> to_shared_offsets(const std::vector<u64>& offsets) {
    Buffer<i64> out;
    out.resize(offsets.size());
    for (std::size_t i = 0; i < offsets.size(); ++i) out[i] = static_cast<i64>(offsets[i]);
    return make_shared_array(std::move(out));
}

}  // namespace

Engine new_polygons(SharedArray<double> xs, SharedArray<double> ys, SharedArray<i64> ring_offsets,
                    SharedArray<i64> poly_offsets, SharedArray<u32> part_poly, u64 logical_count) {
    Engine e;
    const Stopwatch clock;
    e.stats = collect_polygons(view(xs), view(ys), view(ring_offsets), view(poly_offsets));
    e.metrics.statistics_ns = clock.elapsed_or_zero();
    e.xs = std::move(xs);
    e.ys = std::move(ys);
    e.ring_offsets = std::move(ring_offsets);
    e.poly_offsets = std::move(poly_offsets);
    e.part_poly = std::move(part_poly);
    e.logical_count = logical_count;
    e.cost_factors = CostFactors::defaults();
    return e;
}

Engine from_parsed_polygons(ParsedPolygons&& batch, u64 wkb_decode_ns) {
    ParsedPolygons b = std::move(batch);
    ensure_u32_indexable(b.part_count(), "polygon dataset");
    ensure_u32_indexable(b.logical_count, "logical polygon dataset");
    auto ring_offsets = to_shared_offsets(b.ring_offsets);
    auto poly_offsets = to_shared_offsets(b.poly_offsets);
    SharedArray<u32> part_poly;
    if (b.part_poly) {
        Buffer<u32> map(b.part_poly->begin(), b.part_poly->end());
        part_poly = make_shared_array(std::move(map));
    }
    // The coordinates were allocated at their final size by the decoder: they move, no copy.
    Engine e = new_polygons(make_shared_array(std::move(b.xs)), make_shared_array(std::move(b.ys)),
                            std::move(ring_offsets), std::move(poly_offsets), std::move(part_poly),
                            b.logical_count);
    e.metrics.wkb_decode_ns = wkb_decode_ns;
    return e;
}

}  // namespace vardelin
