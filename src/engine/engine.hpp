#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.hpp"
#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "core/polygon_layout.hpp"
#include "core/shared_array.hpp"
#include "engine/metrics.hpp"
#include "engine/settings.hpp"
#include "index/slots.hpp"
#include "planner/cost_factors.hpp"
#include "planner/index_mode.hpp"
#include "query/multipoly.hpp"
#include "stats/types.hpp"

namespace vardelin {

class PreparedPolygons;

// One dataset (points, or polygons with holes and multi-part polygons) with everything built
// over it. The coordinate arrays are never written in place: a merge of the delta buffer
// installs new arrays and drops every index, while holders of the old arrays keep them.
struct Engine {
    SharedArray<double> xs;
    SharedArray<double> ys;
    SharedArray<i64> ring_offsets;  // present exactly on polygon datasets, with poly_offsets
    SharedArray<i64> poly_offsets;
    DatasetStats stats;
    IndexSlots indexes;
    std::vector<double> delta_xs;
    std::vector<double> delta_ys;
    std::shared_ptr<PreparedPolygons> prepared_polygons;
    SharedArray<u32> part_poly;  // logical polygon of each part; absent: every part is its own
    u64 delta_scan_work = 0;
    CostFactors cost_factors;
    u64 logical_count = 0;
    EngineMetrics metrics;
    CoordinateSystem coordinate_system = CoordinateSystem::Planar;
    IndexMode index_mode = IndexMode::eager();

    bool is_polygons() const noexcept { return static_cast<bool>(ring_offsets); }
    std::span<const double> x() const noexcept { return view(xs); }
    std::span<const double> y() const noexcept { return view(ys); }
    // The main coordinates; every constructor and merge keeps the two arrays of one length.
    PointSpans points() const { return {x(), y()}; }
    // The points waiting in the delta buffer; appends grow both arrays together.
    PointSpans delta() const { return {delta_xs, delta_ys}; }
    // The polygon layout of a polygon dataset (empty for points), as every part reader takes it.
    PolygonLayout layout() const noexcept { return {x(), y(), view(ring_offsets), view(poly_offsets)}; }
    // The logical polygon of each part, as every result that names polygons reads it.
    PartMap part_map() const noexcept { return view(part_poly); }
};

enum class DatasetKind : std::uint8_t { Points, Polygons };

// The dataset-kind check of a method that serves one kind only: "<method> requires a point
// dataset" or "<method> requires a polygon dataset". Each method makes it at its own place in
// its order of checks.
inline void require_dataset(const Engine& engine, DatasetKind kind, std::string_view method) {
    if (engine.is_polygons() == (kind == DatasetKind::Polygons)) return;
    throw Error(std::string(method) +
                (kind == DatasetKind::Polygons ? " requires a polygon dataset" : " requires a point dataset"));
}

// The same for a metered method, named by its metrics row.
inline void require_dataset(const Engine& engine, DatasetKind kind, Operation op) {
    require_dataset(engine, kind, name_of(op));
}

}  // namespace vardelin
