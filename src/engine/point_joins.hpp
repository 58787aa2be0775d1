#pragma once
#include <optional>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "core/shared_array.hpp"
#include "engine/call_frame.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// The joins of a query point array against the dataset. Each runs after its binding's checks:
// the timer, the index choice and builds with the interpreter lock held, the kernel through
// `unlocked`, and a result the binding hands over before the call is recorded.

// The ids of the c = min(k, items + waiting points) nearest neighbours of every query point,
// nearest first, one block of exactly c ids per query point in query order: points and the
// points waiting in the delta buffer (ids main length + j), or parts ranked by their
// exterior-ring boxes. A NaN query point's block is 0 .. c - 1, the NaN-last ranking of
// distances that are all NaN. The index is planned for `total` queries when given, else for the
// query count; on a polygon dataset a k-d tree or grid choice is answered by the R-tree. After
// the kernel, still unlocked, the scanned delta work is counted and may merge the buffer: the ids
// stay valid, since merged point j becomes main point main length + j. A result that cannot be
// held is std::bad_alloc before anything is planned, built or counted.
Metered<Buffer<u32>> batch_knn_join(Engine& engine, const PointSpans& queries, u64 k, std::optional<u64> total,
                                    RunUnlocked unlocked);

// Every (query row, dataset point) pair at most `distance` apart, flat [q0, e0, q1, e1, ...]:
// Euclidean under the planar coordinate system, haversine metres under the geographic one.
// Waiting delta points take no part. Direct: the planned index over the dataset (built if
// missing, its build left out of the call's time), pairs by ascending query row. Flipped: a
// k-d tree over the query points built inside the timed stretch, pairs by ascending dataset
// row, counted in the column "none". `total_q_count` only sizes the direct form's plan.
// `unlocked` runs the searches (and the flipped form's build) without the interpreter lock. The
// binding refuses a polygon dataset before it checks the query arrays.
Metered<Buffer<u32>> batch_within_distance(Engine& engine, const PointSpans& queries, double distance, bool flipped,
                                           std::optional<u64> total_q_count, RunUnlocked unlocked);

// Positions of the query points inside the closed box, ascending. Reads nothing of any Engine
// and records nothing.
Buffer<u64> batch_within(const PointSpans& queries, const Box& box, RunUnlocked unlocked);

}  // namespace vardelin
