#include "engine/construction.hpp"

#include <algorithm>
#include <string>

#include "core/error.hpp"
#include "core/parallel.hpp"
#include "core/row_limit.hpp"
#include "core/timing.hpp"
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

void check_offset_ends(std::span<const i64> offsets, u64 bound, const OffsetsRole& role) {
    for (std::size_t i = 1; i < offsets.size(); ++i) {
        const u64 end = static_cast<u64>(offsets[i]);
        if (end > bound) {
            throw Error(std::string(role.array) + " out of bounds at " + role.item + " " + std::to_string(i - 1) +
                        ": end=" + std::to_string(end) + " but " + role.bound + " is " + std::to_string(bound));
        }
    }
}

void check_offset_order(std::span<const i64> offsets, const OffsetsRole& role) {
    if (offsets.empty()) return;
    if (offsets[0] < 0) {
        throw Error(std::string(role.array) + " must not be negative: first entry is " + std::to_string(offsets[0]));
    }
    for (std::size_t i = 1; i < offsets.size(); ++i) {
        if (offsets[i] < offsets[i - 1]) {
            throw Error(std::string(role.array) + " must not decrease: " + role.item + " " + std::to_string(i - 1) +
                        " starts at " + std::to_string(offsets[i - 1]) + " but ends at " + std::to_string(offsets[i]));
        }
    }
}

void check_batch_offsets(std::span<const i64> offsets, u64 bound, const OffsetsRole& role) {
    if (offsets.empty() || offsets[0] != 0) {
        throw Error(std::string(role.array) + " of a builder batch must start at 0");
    }
    check_offset_order(offsets, role);
    if (static_cast<u64>(offsets.back()) != bound) {
        throw Error(std::string(role.array) + " of a builder batch must end at the " + role.bound + " " +
                    std::to_string(bound) + ", got " + std::to_string(offsets.back()));
    }
}

std::vector<u32> part_poly_to_u32(std::span<const i64> part_poly) {
    std::vector<u32> out(part_poly.size());
    for (std::size_t j = 0; j < part_poly.size(); ++j) {
        const i64 v = part_poly[j];
        if (v < 0 || static_cast<u64>(v) > kU32Max) throw Error("part_poly values must fit u32");
        out[j] = static_cast<u32>(v);
    }
    return out;
}

}  // namespace vardelin
