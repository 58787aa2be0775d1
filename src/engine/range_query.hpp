#pragma once
#include <vector>

#include "core/numeric.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// Ids of the dataset entries meeting the closed box (min_x, min_y)-(max_x, max_y), searched as
// given: points inside it, or logical polygons whose exterior ring meets it (a box inside a
// hole still meets its polygon), each once in first-found order. Appended points follow as
// main length + j. Runs the whole single-query frame: histogram shortcut, plan and build for
// one query, delta scan and delta work (which may merge the buffer), one metrics cell. The
// candidate masks and the range intersections call it once per box.
std::vector<u64> range_query(Engine& engine, double min_x, double min_y, double max_x, double max_y);

}  // namespace vardelin
