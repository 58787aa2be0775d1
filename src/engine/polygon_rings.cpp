#include <algorithm>

#include "core/error.hpp"
#include "core/parallel.hpp"
#include "core/row_limit.hpp"
#include "engine/polygon_offsets.hpp"
#include "engine/polygons.hpp"

namespace vardelin {

namespace {

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

}  // namespace vardelin
