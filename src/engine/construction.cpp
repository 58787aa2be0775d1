#include "engine/construction.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/offsets.hpp"
#include "core/parallel.hpp"
#include "core/row_limit.hpp"
#include "core/timing.hpp"
#include "query/multipoly.hpp"
#include "stats/collector.hpp"
#include "wkb/column.hpp"

namespace vardelin {

namespace {

Engine with_stats(SharedArray<double> xs, SharedArray<double> ys, DatasetStats stats, u64 statistics_ns) {
    Engine e;
    e.xs = std::move(xs);
    e.ys = std::move(ys);
    e.stats = std::move(stats);
    e.metrics.statistics_ns = statistics_ns;
    e.cost_factors = CostFactors::defaults();
    return e;
}

// Offsets are stored signed with the same bits as the decoder's unsigned values.
SharedArray<i64> to_shared_offsets(const std::vector<u64>& offsets) {
    Buffer<i64> out;
    out.resize(offsets.size());
    for (std::size_t i = 0; i < offsets.size(); ++i) out[i] = static_cast<i64>(offsets[i]);
    return make_shared_array(std::move(out));
}

// The part map as the constructor checks it: length, sign, then the row limit on the
// logical count that its largest entry implies.
SharedArray<u32> checked_part_map(std::span<const i64> part_poly, u64 parts, u64& logical_count) {
    if (part_poly.size() != parts) {
        throw Error("part_poly must have one entry per part (poly_offsets length minus one)");
    }
    i64 largest = -1;
    for (const i64 v : part_poly) {
        if (v < 0) throw Error("part_poly values must fit u32");
        largest = std::max(largest, v);
    }
    logical_count = static_cast<u64>(largest) + 1;  // -1 + 1 = 0 for an empty map
    ensure_u32_indexable(logical_count, "logical polygon dataset");
    Buffer<u32> map;
    map.resize(part_poly.size());
    for (std::size_t j = 0; j < part_poly.size(); ++j) map[j] = static_cast<u32>(part_poly[j]);
    return make_shared_array(std::move(map));
}

}  // namespace

Engine new_points(SharedArray<double> xs, SharedArray<double> ys) {
    const Stopwatch clock;
    DatasetStats stats = collect_points({view(xs), view(ys)});
    const u64 ns = clock.elapsed_or_zero();
    return with_stats(std::move(xs), std::move(ys), std::move(stats), ns);
}

Engine engine_from_points(const PointSpans& points) {
    ensure_u32_indexable(points.size(), "point dataset");
    Buffer<double> x(points.size()), y(points.size());
    // The extent fold rides along with the copy; it is part of the statistics time.
    const Stopwatch clock;
    const Box folded = copy_and_fold(points, x.data(), y.data());
    DatasetStats stats = collect_points(points, folded);
    const u64 ns = clock.elapsed_or_zero();
    return with_stats(make_shared_array(std::move(x)), make_shared_array(std::move(y)), std::move(stats), ns);
}

Engine new_polygons(SharedArray<double> xs, SharedArray<double> ys, SharedArray<i64> ring_offsets,
                    SharedArray<i64> poly_offsets, SharedArray<u32> part_poly, u64 logical_count) {
    Engine e;
    const Stopwatch clock;
    e.stats = collect_polygons(PolygonLayout(view(xs), view(ys), view(ring_offsets), view(poly_offsets)));
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

Engine engine_from_polygon_rings(std::span<const double> xs, std::span<const double> ys,
                                 std::span<const i64> ring_offsets, std::span<const i64> poly_offsets,
                                 const DeferredArray<i64>* part_poly) {
    if (ring_offsets.size() < 2) throw Error("ring_offsets must have at least 2 entries");
    if (poly_offsets.size() < 2) {
        throw Error("poly_offsets must have at least 2 entries (one polygon requires two values)");
    }
    const u64 rings = ring_offsets.size() - 1;
    const u64 parts = poly_offsets.size() - 1;
    check_offset_ends(ring_offsets, xs.size(), kRingOffsets);
    ensure_u32_indexable(parts, "polygon dataset");
    check_offset_ends(poly_offsets, rings, kPolyOffsets);

    u64 logical_count = parts;
    SharedArray<u32> map;
    if (part_poly) {
        const auto values = part_poly->get();
        map = checked_part_map(values, parts, logical_count);
    }
    // Every reader walks the offsets from one entry to the next; a start below 0 or a step
    // back would send it outside the arrays.
    check_offset_order(ring_offsets, kRingOffsets);
    check_offset_order(poly_offsets, kPolyOffsets);

    auto x = make_shared_array(parallel_copy(xs.data(), xs.size()));
    auto y = make_shared_array(parallel_copy(ys.data(), ys.size()));
    auto r = make_shared_array(parallel_copy(ring_offsets.data(), ring_offsets.size()));
    auto p = make_shared_array(parallel_copy(poly_offsets.data(), poly_offsets.size()));
    return new_polygons(std::move(x), std::move(y), std::move(r), std::move(p), std::move(map), logical_count);
}

Engine engine_from_wkb_polygons(std::span<const std::uint8_t> data, std::span<const i64> offsets) {
    const Stopwatch clock;
    ParsedPolygons batch = parse_polygons(data, offsets);
    const u64 decode_ns = clock.elapsed_or_zero();
    return from_parsed_polygons(std::move(batch), decode_ns);
}

Engine engine_from_wkb_polygon_views(std::span<const std::uint8_t> views,
                                     std::span<const std::span<const std::uint8_t>> buffers) {
    const Stopwatch clock;
    ParsedPolygons batch = parse_polygons_chunked(Views(views, buffers));
    const u64 decode_ns = clock.elapsed_or_zero();
    return from_parsed_polygons(std::move(batch), decode_ns);
}

namespace {

// The parts to copy, in copy order, and for a source with a part map the new logical polygon
// of each.
struct Selection {
    std::vector<u32> parts;
    SharedArray<u32> part_poly;
};

Selection select_parts(const Engine& source, std::span<const u32> indices) {
    Selection s;
    if (!source.part_poly) {
        s.parts.assign(indices.begin(), indices.end());
        return s;
    }
    const auto csr = polygon_parts_csr(view(source.part_poly), source.logical_count);
    // Repeated entries copy their parts again, so the selection can outgrow the row limit
    // even when the number of entries does not.
    u64 total = 0;
    for (const u32 g : indices) total = checked_add(total, csr.parts_of(g).size());
    ensure_u32_indexable(total, "polygon subset");
    s.parts.reserve(total);
    Buffer<u32> map;
    map.reserve(total);
    for (std::size_t k = 0; k < indices.size(); ++k) {
        const u32 g = indices[k];
        for (const u32 part : csr.parts_of(g)) {
            s.parts.push_back(part);
            map.push_back(static_cast<u32>(k));
        }
    }
    s.part_poly = make_shared_array(std::move(map));
    return s;
}

}  // namespace

Engine subset(const Engine& source, std::span<const u32> indices) {
    ensure_u32_indexable(indices.size(), "polygon subset");
    if (!source.is_polygons()) throw Error("subset currently requires a polygon dataset");
    for (const u32 g : indices) {
        if (g >= source.logical_count) {
            throw Error("subset index " + std::to_string(g) + " is out of bounds for " +
                        std::to_string(source.logical_count) + " polygons");
        }
    }
    Selection sel = select_parts(source, indices);

    // The source's offsets start at or above 0, never decrease and end within their arrays
    // (its constructors refuse anything else), so they read safely as unsigned positions.
    const auto xs = source.x();
    const auto ys = source.y();
    const auto rings = view(source.ring_offsets);
    const auto parts = view(source.poly_offsets);
    const auto at = [](std::span<const i64> offsets, std::size_t i) { return static_cast<std::size_t>(offsets[i]); };

    u64 ring_total = 0;
    u64 coord_total = 0;
    for (const u32 p : sel.parts) {
        const std::size_t r0 = at(parts, p), r1 = at(parts, p + 1);
        ring_total = checked_add(ring_total, r1 - r0);
        coord_total = checked_add(coord_total, at(rings, r1) - at(rings, r0));
    }

    Buffer<double> new_xs, new_ys;
    Buffer<i64> new_rings, new_parts;
    new_xs.reserve(coord_total);
    new_ys.reserve(coord_total);
    new_rings.reserve(checked_add(ring_total, 1));
    new_parts.reserve(sel.parts.size() + 1);
    new_rings.push_back(0);
    new_parts.push_back(0);
    for (const u32 p : sel.parts) {
        for (std::size_t r = at(parts, p); r < at(parts, p + 1); ++r) {
            const std::size_t c0 = at(rings, r), c1 = at(rings, r + 1);
            new_xs.insert(new_xs.end(), xs.begin() + c0, xs.begin() + c1);
            new_ys.insert(new_ys.end(), ys.begin() + c0, ys.begin() + c1);
            new_rings.push_back(static_cast<i64>(new_xs.size()));
        }
        new_parts.push_back(static_cast<i64>(new_rings.size() - 1));
    }

    Engine out = new_polygons(make_shared_array(std::move(new_xs)), make_shared_array(std::move(new_ys)),
                              make_shared_array(std::move(new_rings)), make_shared_array(std::move(new_parts)),
                              std::move(sel.part_poly), indices.size());
    out.index_mode = source.index_mode;
    out.cost_factors = source.cost_factors;
    out.coordinate_system = source.coordinate_system;
    return out;
}

}  // namespace vardelin
