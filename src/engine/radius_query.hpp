#pragma once
#include <functional>
#include <vector>

#include "core/numeric.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// Receives the finished ids of a radius query; the call's time is taken after it returns, so
// it covers handing the ids over.
using RadiusSink = std::function<void(std::vector<u64>&&)>;

// Ids of the points within `distance` of (cx, cy), inclusive, handed to `sink`: in coordinate
// units under the planar coordinate system, in haversine metres under the geographic one (x
// longitude, y latitude in degrees). Main points in the index's order, then appended points
// as main length + j. A polygon dataset is refused before anything is timed; a negative or
// NaN distance, or a NaN centre, finds nothing. Runs the whole single-query frame.
void radius_query(Engine& engine, double cx, double cy, double distance, const RadiusSink& sink);

}  // namespace vardelin
