#pragma once
#include <optional>
#include <span>
#include <vector>

#include "core/numeric.hpp"
#include "engine/engine.hpp"
#include "index/kind.hpp"

namespace vardelin {

// Fraction of the main length the delta buffer may reach before an append merges it.
inline constexpr double kDeltaFlushFraction = 0.1;

// The buffer merges at append time once it holds more than this many points.
u64 delta_flush_threshold(u64 main_length) noexcept;

// Refuses polygon datasets, which have no delta buffer; checked before any argument.
void require_delta_support(const Engine& engine);

// Buffers points after the main arrays (point j answers as main length + j) and merges them
// when the buffer outgrows the threshold. Fails before appending anything.
void append_delta(Engine& engine, const PointSpans& points);

// Appends the buffer to the main arrays as new shared arrays, gathers the statistics again
// (untimed), empties the buffer, zeroes `delta_scan_work` and drops all four indexes. Does
// nothing at all when the buffer is empty.
void merge_delta(Engine& engine);

// Ids (main length + j) of the buffered points inside the closed box exactly as given, in
// ascending order; a NaN coordinate never matches.
std::vector<u32> delta_range(const Engine& engine, double min_x, double min_y, double max_x, double max_y);

// Work of delta points scanned since the last merge after which a merge pays for itself, for
// queries answered by `kind` over `main_length` points; none when no amount ever does.
std::optional<u64> delta_work_threshold(IndexKind kind, u64 main_length) noexcept;

// Counts `work` scanned delta points against the Engine (a single query adds the delta
// length, the batch kNN join its query count times that) and merges the delta buffer at once
// when the threshold of the kind that answered is reached. Returns whether it merged; ids
// handed out before the merge stay valid, since merged point j lands at main length + j.
bool add_delta_work(Engine& engine, IndexKind kind, u64 work);

}  // namespace vardelin
