#pragma once
#include <vector>

#include "core/numeric.hpp"
#include "engine/engine.hpp"
#include "index/spatial_index.hpp"

namespace vardelin {

// The k entries nearest to (x, y), nearest first, with their squared distances: points, or
// parts ranked by their exterior-ring boxes (part ids, not mapped to logical polygons). With
// an empty delta buffer the index's answer as it stands (ties in its order); otherwise its
// hits and every appended point (main length + j) ranked together, NaN distances last, and
// the scanned delta length counted as delta work. A NaN query point gives nothing, the call
// counted as for any empty answer. No histogram shortcut.
std::vector<Neighbor> knn(Engine& engine, double x, double y, u64 k);

}  // namespace vardelin
