#include "engine/indexes.hpp"

#include <memory>
#include <vector>

#include "core/error.hpp"
#include "core/float_format.hpp"
#include "core/quote.hpp"
#include "core/timing.hpp"
#include "planner/selector.hpp"
#include "query/geometry/prepared_polygons.hpp"

namespace vardelin {

namespace {

// The k-d tree and the grid index points only: on a polygon dataset (reachable through the
// explicit modes alone) their items are the vertices.
template <class Index>
Index build_over(const Engine& e) {
    if constexpr (std::is_same_v<Index, BruteForce>) {
        return e.is_polygons() ? BruteForce::over_parts(e.layout()) : BruteForce::over_points(e.xs, e.ys);
    } else if constexpr (std::is_same_v<Index, PackedRTree>) {
        return e.is_polygons() ? PackedRTree::over_parts(e.layout()) : PackedRTree::over_points(e.points());
    } else if constexpr (std::is_same_v<Index, PackedKdTree>) {
        PackedKdTree tree = PackedKdTree::over_points(e.xs, e.ys);
        if (e.stats.histogram) tree.attach_histogram(*e.stats.histogram);
        return tree;
    } else {
        return UniformGrid::over_points(e.xs, e.ys);
    }
}

// Edge count of every part: the coordinates of its rings of at least 2 coordinates. Only
// counts, so it is cheap; the bands themselves wait for the first test that needs them.
std::vector<std::uint8_t> banded_flags(const PolygonLayout& layout) {
    std::vector<std::uint8_t> banded(layout.part_count(), 0);
    for (std::size_t p = 0; p < banded.size(); ++p) {
        const IndexRange rings = layout.part_rings(p);
        u64 edges = 0;
        for (u64 r = rings.begin; r < rings.end; ++r) {
            const u64 c = layout.ring(r).size();
            if (c >= 2) edges = sat_add(edges, c);
        }
        banded[p] = edges >= kBandedMinEdges ? 1 : 0;
    }
    return banded;
}

}  // namespace

IndexKind plan_index(const Engine& engine, const QueryShape& shape, u64 q) noexcept {
    return plan_with_built(engine.stats, shape, q, engine.index_mode, engine.cost_factors,
                           engine.indexes.built_kinds());
}

IndexKind plan_index_with(const Engine& engine, const QueryShape& shape, u64 q, IndexKind candidate) noexcept {
    return plan_access_with_kind(engine.stats, shape, q, engine.index_mode, engine.cost_factors, candidate);
}

IndexKind serving_kind(const Engine& engine, IndexKind planned) noexcept {
    if (engine.is_polygons() && (planned == IndexKind::KdTree || planned == IndexKind::Grid)) {
        return IndexKind::RTree;
    }
    return planned;
}

IndexUse use_index(Engine& engine, IndexKind planned) {
    const IndexKind served = serving_kind(engine, planned);
    return {planned, served, build_index_if_needed(engine, served)};
}

bool point_polygon_orientation(const Engine& engine, const QueryShape& shape, u64 q, IndexKind kind,
                               double distance) noexcept {
    // The normal orientation pays for a build only when the index that would serve it is missing.
    const bool built = engine.indexes.built(serving_kind(engine, kind));
    return flip_point_polygon_join(engine.stats, shape, q, engine.index_mode, engine.cost_factors, kind, built,
                                   distance);
}

u64 build_index_if_needed(Engine& engine, IndexKind kind) {
    if (engine.indexes.built(kind)) return 0;
    const Stopwatch clock;
    with_index_type(kind, [&]<class Index>(std::type_identity<Index>) { engine.indexes.fill(build_over<Index>(engine)); });
    const auto ns = clock.elapsed();
    engine.metrics.build_of(kind).record(ns);
    return ns.value_or(0);
}

u64 build_prepared_if_needed(Engine& engine) {
    if (engine.index_mode.tag == IndexMode::Tag::None || engine.prepared_polygons || !engine.is_polygons()) return 0;
    const Stopwatch clock;
    engine.prepared_polygons = std::make_shared<PreparedPolygons>(banded_flags(engine.layout()));
    const auto ns = clock.elapsed();
    engine.metrics.prepared_polygons.record(ns);
    return ns.value_or(0);
}

void build_index(Engine& engine) {
    // The box ignores where the data lies: over data that covers the unit square it reaches
    // every histogram cell and asks for a scan, elsewhere only the border cells. The mode is
    // not consulted, and the natural kind of a polygon dataset is always the R-tree.
    const QueryShape representative = QueryShape::range({0.0, 0.0, 1.0, 1.0});
    build_index_if_needed(engine, natural_candidate(engine.stats, representative));
}

void build_index_for_calibration(Engine& engine, std::string_view text) {
    IndexKind kind = IndexKind::RTree;
    if (text == "grid") {
        kind = IndexKind::Grid;
    } else if (text == "kd_tree") {
        kind = IndexKind::KdTree;
    } else if (text != "r_tree") {
        throw Error("calibration index must be 'grid', 'kd_tree', or 'r_tree', got " + debug_quoted(text));
    }
    if (kind != IndexKind::RTree && engine.is_polygons()) {
        throw Error("grid and kd_tree calibration indexes require point data");
    }
    engine.index_mode = IndexMode::explicit_kind(kind);
    build_index_if_needed(engine, kind);
}

u64 index_bytes(const Engine& engine) { return engine.indexes.bytes(); }

std::string stats_info(const Engine& engine) {
    const DatasetStats& s = engine.stats;
    std::string extent = "None";
    if (s.extent) {
        const Box& b = *s.extent;
        extent = "Some(RECT(" + format_shortest(b.min_x) + " " + format_shortest(b.min_y) + "," +
                 format_shortest(b.max_x) + " " + format_shortest(b.max_y) + "))";
    }
    return "n=" + std::to_string(s.n) + ", kind=" + name_of(s.kind) + ", distribution=" + name_of(s.distribution) +
           ", density=" + format_sci3(s.density) + ", extent=" + extent;
}

}  // namespace vardelin
