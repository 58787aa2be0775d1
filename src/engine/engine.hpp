#pragma once
#include <memory>
#include <span>
#include <vector>

#include "core/numeric.hpp"
#include "core/shared_array.hpp"
#include "engine/coordinate_system.hpp"
#include "engine/metrics.hpp"
#include "planner/cost_factors.hpp"
#include "planner/index_mode.hpp"
#include "stats/types.hpp"

namespace vardelin {

class BruteForce;
class PackedRTree;
class PackedKdTree;
class UniformGrid;
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
    std::shared_ptr<const BruteForce> brute_force;
    std::shared_ptr<const PackedRTree> r_tree;
    std::shared_ptr<const PackedKdTree> kd_tree;
    std::shared_ptr<const UniformGrid> grid;
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
};

// A point dataset over arrays the caller has already checked (equal lengths, row limit);
// gathers and times the statistics.
Engine new_points(SharedArray<double> xs, SharedArray<double> ys);

// Copies the caller's coordinates once into shared arrays, then builds the point dataset.
Engine engine_from_points(std::span<const double> xs, std::span<const double> ys);

}  // namespace vardelin
