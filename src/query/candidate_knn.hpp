#pragma once
#include <span>
#include <vector>

#include "core/numeric.hpp"
#include "core/point_spans.hpp"

namespace vardelin {

// The min(k, M) candidate rows nearest to (x, y) by planar squared distance, nearest first;
// every occurrence of a repeated candidate competes on its own. Ties come in no fixed order
// and NaN distances rank last: a NaN query point still gets its min(k, M) rows, the count every
// caller of an exact selection over a given subset relies on. A candidate at or beyond the coordinate arrays is refused with
// Error before anything is read.
std::vector<u64> knn_indices_from_candidates(const PointSpans& points, u64 k, std::span<const u32> candidates,
                                             double x, double y);

}  // namespace vardelin
