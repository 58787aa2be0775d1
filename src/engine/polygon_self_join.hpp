#pragma once
#include "core/numeric.hpp"
#include "core/shared_array.hpp"
#include "engine/call_frame.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// Every unordered pair of intersecting polygons of a polygon dataset, flat [a0, b0, a1, b1,
// ...] with a < b in each pair. Part pairs as the parts' searches find them (ascending first
// id) when every part is its own polygon; with a part map, logical pairs sorted by (a, b),
// each once, pairs within one polygon dropped. A part with no exterior coordinates intersects
// nothing. The index is the R-tree or the scan, by the planner's rule for n part searches over
// the n parts with the R-tree as candidate ("eager" the R-tree at any size; an explicit k-d tree
// or grid is answered by the R-tree, its column the named kind). A point dataset is refused
// before the timer starts. The parallel part searches
// through `unlocked`; the logical-pair step runs after it, still timed. The caller records
// the call, with the pair count as its rows, once it has handed the pairs over.
Metered<Buffer<u32>> polygon_intersects_self_join(Engine& engine, RunUnlocked unlocked);

}  // namespace vardelin
