#include "engine/polygons.hpp"

#include <cmath>

#include "core/parallel.hpp"
#include "core/row_limit.hpp"
#include "core/timing.hpp"
#include "stats/collector.hpp"

namespace vardelin {

namespace {

DatasetStats collect_polygon_stats(std::span<const double> xs, std::span<const double> ys,
                                   std::span<const i64> ring_offsets, std::span<const i64> poly_offsets) {
    DatasetStats stats;
    const u64 parts = poly_offsets.empty() ? 0 : poly_offsets.size() - 1;
    if (parts == 0) return stats;  // Empty, Unknown, no extent
    stats.n = parts;
    stats.kind = GeometryKind::Polygon;

    const Box folded = compute_extent(xs, ys);
    if (!std::isfinite(folded.min_x)) return stats;
    const Box extent{std::fmin(folded.min_x, folded.max_x), std::fmin(folded.min_y, folded.max_y),
                     std::fmax(folded.min_x, folded.max_x), std::fmax(folded.min_y, folded.max_y)};
    stats.extent = extent;
    const double w = extent.max_x - extent.min_x;
    const double h = extent.max_y - extent.min_y;
    stats.density = (w * h > 0.0) ? static_cast<double>(parts) / (w * h) : 0.0;

    SpatialHistogram hist;
    hist.min_x = extent.min_x;
    hist.min_y = extent.min_y;
    hist.cell_w = histogram_cell_size(w, kHistogramSide);
    hist.cell_h = histogram_cell_size(h, kHistogramSide);
    hist.counts = build_polygon_centroid_histogram(xs, ys, ring_offsets, poly_offsets, parts, hist.min_x,
                                                   hist.min_y, hist.cell_w, hist.cell_h);
    stats.histogram = hist;
    return stats;
}

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
    e.stats = collect_polygon_stats(view(xs), view(ys), view(ring_offsets), view(poly_offsets));
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
