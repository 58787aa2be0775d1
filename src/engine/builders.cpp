#include "engine/builders.hpp"

#include <algorithm>
#include <utility>

#include "core/append.hpp"
#include "core/error.hpp"
#include "core/offsets.hpp"
#include "core/row_limit.hpp"
#include "core/timing.hpp"
#include "engine/construction.hpp"
#include "wkb/column.hpp"

namespace vardelin {

void PointBuilder::require_open() const {
    if (finished_) throw Error("point builder is already finished");
}

void PointBuilder::append(const PointSpans& points, u64 wkb_decode_ns) {
    require_open();
    ensure_u32_indexable(sat_add(xs_.size(), points.size()), "point dataset");
    append_pair(xs_, ys_, points.xs(), points.ys());
    sat_add_to(wkb_decode_ns_, wkb_decode_ns);
}

Engine PointBuilder::finish() {
    require_open();
    finished_ = true;
    auto xs = make_shared_array(std::exchange(xs_, {}));
    auto ys = make_shared_array(std::exchange(ys_, {}));
    Engine engine = new_points(std::move(xs), std::move(ys));
    engine.metrics.wkb_decode_ns = wkb_decode_ns_;
    return engine;
}

namespace {

constexpr const char* kFinished = "polygon builder is already finished";

// Checks a part map of a builder batch (every entry in 0 ... 4294967295) and converts it.
std::vector<u32> part_poly_to_u32(std::span<const i64> part_poly) {
    std::vector<u32> out(part_poly.size());
    for (std::size_t j = 0; j < part_poly.size(); ++j) {
        const i64 v = part_poly[j];
        if (v < 0 || static_cast<u64>(v) > kU32Max) throw Error("part_poly values must fit u32");
        out[j] = static_cast<u32>(v);
    }
    return out;
}

}  // namespace

void PolygonBuilder::append(ParsedPolygons&& batch) {
    ParsedPolygons b = std::move(batch);
    const u64 ring_base = held_.ring_count();
    const u64 coord_base = held_.xs.size();
    const u64 bp = b.part_count();

    if (b.part_poly && b.part_poly->size() != bp) throw InternalError("part map length differs from the part count");
    if (b.ring_offsets.empty() || b.poly_offsets.empty() || b.xs.size() != b.ys.size()) {
        throw InternalError("batch without leading offsets or with unequal coordinate arrays");
    }
    // Everything that can refuse the batch is decided before anything is appended.
    const u64 held_logical = held_.logical_count;
    if (held_logical > kU32Max) throw Error("polygon count exceeds the u32 row limit");
    if (bp > 0) {
        u64 largest = bp - 1;
        if (b.part_poly) largest = b.part_poly->empty() ? 0 : *std::max_element(b.part_poly->begin(), b.part_poly->end());
        if (largest + held_logical > kU32Max) throw Error("polygon count exceeds the u32 row limit");
    }
    u64 new_logical = 0;
    if (__builtin_add_overflow(held_logical, b.logical_count, &new_logical)) throw Error("polygon count overflow");

    // The first coordinates are taken over whole: a single-batch build copies nothing here.
    const bool adopt = held_.xs.empty() && held_.ys.empty();
    if (!adopt) {
        reserve_for_append(held_.xs, b.xs.size());
        reserve_for_append(held_.ys, b.ys.size());
    }
    reserve_for_append(held_.ring_offsets, b.ring_count());
    reserve_for_append(held_.poly_offsets, bp);
    reserve_for_append(*held_.part_poly, bp);

    if (adopt) {
        held_.xs.swap(b.xs);
        held_.ys.swap(b.ys);
    } else {
        held_.xs.insert(held_.xs.end(), b.xs.begin(), b.xs.end());
        held_.ys.insert(held_.ys.end(), b.ys.begin(), b.ys.end());
    }
    for (std::size_t i = 1; i < b.ring_offsets.size(); ++i) held_.ring_offsets.push_back(b.ring_offsets[i] + coord_base);
    for (std::size_t i = 1; i < b.poly_offsets.size(); ++i) held_.poly_offsets.push_back(b.poly_offsets[i] + ring_base);
    for (u64 j = 0; j < bp; ++j) {
        const u64 local = b.part_poly ? (*b.part_poly)[j] : j;
        held_.part_poly->push_back(static_cast<u32>(local + held_logical));
    }
    held_.logical_count = new_logical;
    multi_ = multi_ || b.part_poly.has_value();
}

ParsedPolygons PolygonBuilder::take() && {
    ParsedPolygons out = std::move(held_);
    if (!multi_) out.part_poly.reset();
    return out;
}

void append_polygon_rings(PolygonBuilderState& state, std::span<const double> xs, std::span<const double> ys,
                          std::span<const i64> ring_offsets, std::span<const i64> poly_offsets,
                          const DeferredArray<i64>* part_poly) {
    const u64 rings = ring_offsets.empty() ? 0 : ring_offsets.size() - 1;
    const u64 parts = poly_offsets.empty() ? 0 : poly_offsets.size() - 1;
    check_offset_ends(ring_offsets, xs.size(), kRingOffsets);
    check_offset_ends(poly_offsets, rings, kPolyOffsets);

    ParsedPolygons batch;
    batch.logical_count = parts;
    if (part_poly) {
        const auto values = part_poly->get();
        std::vector<u32> map = part_poly_to_u32(values);
        if (map.size() != parts) {
            throw Error("part_poly must have one entry per part (poly_offsets length minus one)");
        }
        batch.logical_count = map.empty() ? 0 : u64{*std::max_element(map.begin(), map.end())} + 1;
        batch.part_poly = std::move(map);
    }
    check_batch_offsets(ring_offsets, xs.size(), kRingOffsets);
    check_batch_offsets(poly_offsets, rings, kPolyOffsets);

    batch.xs.assign(xs.begin(), xs.end());
    batch.ys.assign(ys.begin(), ys.end());
    batch.ring_offsets.assign(ring_offsets.begin(), ring_offsets.end());
    batch.poly_offsets.assign(poly_offsets.begin(), poly_offsets.end());
    if (!state.builder) throw Error(kFinished);
    state.builder->append(std::move(batch));
}

void append_wkb(PolygonBuilderState& state, std::span<const std::uint8_t> data, std::span<const i64> offsets) {
    const Stopwatch clock;
    ParsedPolygons batch = parse_polygons(data, offsets);
    sat_add_to(state.wkb_decode_ns, clock.elapsed_or_zero());
    if (!state.builder) throw Error(kFinished);
    state.builder->append(std::move(batch));
}

Engine finish(PolygonBuilderState& state) {
    if (!state.builder) throw Error(kFinished);
    PolygonBuilder taken = std::move(*state.builder);
    state.builder.reset();
    return from_parsed_polygons(std::move(taken).take(), state.wkb_decode_ns);
}

}  // namespace vardelin
