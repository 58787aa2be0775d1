#pragma once
#include <optional>

#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "engine/call_frame.hpp"
#include "engine/engine.hpp"
#include "query/batch/within_distance.hpp"

namespace vardelin {

// Every (query row, dataset point) pair at most `distance` apart, flat [q0, e0, q1, e1, ...]:
// Euclidean under the planar coordinate system, haversine metres under the geographic one.
// Waiting delta points take no part. Direct: the planned index over the dataset (built if
// missing, its build left out of the call's time), pairs by ascending query row. Flipped: a
// k-d tree over the query points built inside the timed stretch, pairs by ascending dataset
// row, counted in the column "none". `total_q_count` only sizes the direct form's plan.
// `unlocked` runs the searches (and the flipped form's build) without the interpreter lock.
Metered<Buffer<u32>> batch_within_distance(Engine& engine, const PointSpans& queries, double distance, bool flipped,
                                          std::optional<u64> total_q_count, RunUnlocked unlocked);

}  // namespace vardelin
