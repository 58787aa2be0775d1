#pragma once
#include <array>
#include <span>

#include "engine/engine.hpp"
#include "query/hits.hpp"

namespace vardelin {

// The ids that every box (min_x, min_y, max_x, max_y) holds, ascending, as the multiset
// intersection of one full range query per box in the given order. Stops querying at the
// first box after which the running intersection is empty: later boxes run no query and
// record nothing. Empty for no boxes.
HitList intersect_ranges(Engine& engine, std::span<const std::array<double, 4>> boxes);

}  // namespace vardelin
