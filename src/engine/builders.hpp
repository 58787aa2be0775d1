#pragma once
#include <cstdint>
#include <optional>
#include <span>

#include "core/deferred_array.hpp"
#include "core/numeric.hpp"
#include "core/parsed_polygons.hpp"
#include "core/shared_array.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// Collects point batches and turns them into one dataset, paying for the statistics once.
// Finishing hands the arrays over; a finished builder refuses everything after.
class PointBuilder {
public:
    // Fails before appending anything: finished builder, then the row limit over the points
    // already held plus the batch.
    void append(const PointSpans& points, u64 wkb_decode_ns);

    // The dataset of every batch in append order, its decode time the sum of the batches'.
    Engine finish();

private:
    void require_open() const;

    Buffer<double> xs_;
    Buffer<double> ys_;
    u64 wkb_decode_ns_ = 0;
    bool finished_ = false;
};

// Accumulates batches of polygons into one layout: each batch's offsets are shifted past the
// coordinates and rings already held, its polygon numbers past the logical polygons held.
class PolygonBuilder {
public:
    PolygonBuilder() { held_.part_poly.emplace(); }

    // Merges a batch whose offsets start at 0 and cover its arrays. Throws Error or
    // std::bad_alloc; either way the builder is left exactly as it was.
    void append(ParsedPolygons&& batch);

    // The accumulated layout; the part map stays only if some batch carried one (otherwise it
    // is the identity).
    ParsedPolygons take() &&;

private:
    ParsedPolygons held_;  // part_poly is always kept, one entry per part
    bool multi_ = false;
};

// The record behind the Python class _PolygonBuilder: the builder until finish takes it.
struct PolygonBuilderState {
    std::optional<PolygonBuilder> builder{std::in_place};
    u64 wkb_decode_ns = 0;
};

// Checks a ring-array batch (the caller has checked the contiguity of the four arrays and the
// equal coordinate lengths), then merges it.
void append_polygon_rings(PolygonBuilderState& state, std::span<const double> xs, std::span<const double> ys,
                          std::span<const i64> ring_offsets, std::span<const i64> poly_offsets,
                          const DeferredArray<i64>* part_poly);

// Decodes a WKB column (geometry i is data[offsets[i] .. offsets[i+1]]) and merges it; the
// decode time is added to the state's wkb_decode_ns.
void append_wkb(PolygonBuilderState& state, std::span<const std::uint8_t> data, std::span<const i64> offsets);

// Takes the builder (the state is finished from here on, also if this fails) and builds the
// dataset.
Engine finish(PolygonBuilderState& state);

}  // namespace vardelin
