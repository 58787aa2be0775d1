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

// Positions of the query points inside the closed box, ascending. Reads nothing of any Engine
// and records nothing.
Buffer<u64> batch_within(const PointSpans& queries, const Box& box, RunUnlocked unlocked);

}  // namespace vardelin
