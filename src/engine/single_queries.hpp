#pragma once
#include <vector>

#include "core/numeric.hpp"
#include "engine/call_frame.hpp"
#include "engine/engine.hpp"
#include "index/spatial_index.hpp"

namespace vardelin {

// The four single queries. Each runs the whole single-query frame: the timer, the histogram
// shortcut where the query has one, plan and build for one query, the delta scan after the
// index with its delta work (which may merge the buffer), and one metrics cell, recorded by the
// caller: before the result is converted, except for radius_query, whose time covers its array.
// Appended points answer as main length + j.

// Half-width of the box a point dataset is searched in around a containment query point:
// absolute, so from magnitude 4096 on x - e and x + e round back to x and only exact matches
// remain.
inline constexpr double kPointTolerance = 2.220446049250313e-13;

// The k entries nearest to (x, y), nearest first, with their squared distances: points, or
// parts ranked by their exterior-ring boxes (part ids, not mapped to logical polygons). With
// an empty delta buffer the index's answer as it stands (ties in its order); otherwise its
// hits and every appended point ranked together, NaN distances last. A NaN query point gives
// nothing, the call counted as for any empty answer. No histogram shortcut.
Metered<std::vector<Neighbor>> knn(Engine& engine, double x, double y, u64 k);

// Ids of the dataset entries meeting the closed box, searched as given: points inside it, or
// logical polygons whose exterior ring meets it (a box inside a hole still meets its polygon),
// each once in first-found order. The candidate masks and the range intersections call it once
// per box.
Metered<std::vector<u64>> range_query(Engine& engine, double min_x, double min_y, double max_x, double max_y);

// Ids of the points within `distance` of (cx, cy), inclusive: in coordinate units under the
// planar coordinate system, in haversine metres under the geographic one (x longitude, y
// latitude in degrees). Main points in the index's order, then appended points. A polygon
// dataset is refused before anything is timed; a negative or NaN distance, or a NaN centre,
// finds nothing.
Metered<std::vector<u64>> radius_query(Engine& engine, double cx, double cy, double distance);

// Ids at (x, y): the logical polygons containing it (even-odd rule, holes excluded), each once
// in first-found order, or the points within kPointTolerance of it on both axes.
Metered<std::vector<u64>> contains_query(Engine& engine, double x, double y);

}  // namespace vardelin
