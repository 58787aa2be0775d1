#pragma once
#include <vector>

#include "core/numeric.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// Half-width of the box a point dataset is searched in around the query point: absolute, so
// from magnitude 4096 on x - e and x + e round back to x and only exact matches remain.
inline constexpr double kPointTolerance = 2.220446049250313e-13;

// Ids at (x, y): the logical polygons containing it (even-odd rule, holes excluded), each once
// in first-found order, or the points within kPointTolerance of it on both axes, appended
// points as main length + j. Runs the whole single-query frame, like range_query.
std::vector<u64> contains_query(Engine& engine, double x, double y);

}  // namespace vardelin
