#pragma once
#include <string_view>

#include "engine/engine.hpp"

namespace vardelin {

// Builds the named kind ("grid", "kd_tree" or "r_tree") for the calibration harness and leaves
// the index mode Explicit(kind). Refuses other names, and the grid and k-d tree on polygons,
// before changing anything.
void build_index_for_calibration(Engine& engine, std::string_view kind);

}  // namespace vardelin
