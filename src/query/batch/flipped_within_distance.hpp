#pragma once
#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "query/batch/within_distance.hpp"

namespace vardelin {

// The within-distance join run from the dataset side: a packed k-d tree over the query points,
// built inside this call and dropped with it, searched once per dataset point in parallel.
// The pairs are those of the direct form (query row first, dataset row second), grouped by
// ascending dataset row and, within a row, in the tree's order. `geographic` measures
// haversine metres between (longitude, latitude) degrees, else planar distance. When nothing
// can pair (no query points, no dataset points, a NaN or negative distance) the result is
// empty and no tree is built.
Buffer<u32> par_within_distance_flipped(const PointSpans& queries, const PointSpans& dataset, double distance,
                                        bool geographic);

}  // namespace vardelin
