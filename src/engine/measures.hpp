#pragma once
#include <span>

#include "core/deferred_array.hpp"
#include "core/numeric.hpp"
#include "core/shared_array.hpp"
#include "engine/call_frame.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// Areas measured without an index or query points. None of them is metered: they start no
// timer and write no metrics cell.

// Unsigned area of every logical polygon in id order: one entry per part without a part map,
// else `logical_count` entries, a multi-part polygon summing its parts in part order. The
// parallel part runs through `unlocked`. A point dataset is refused.
Buffer<double> polygon_areas(const Engine& engine, RunUnlocked unlocked);

// Intersection area of each pair (i_idx[t], j_idx[t]) of logical polygons, the sum over their
// part pairs, (i, j) and (j, i) measured apart. Checks in this order: the dataset kind, the
// contiguity of i_idx then j_idx, equal lengths, then every id of i_idx below the logical
// polygon count before any id of j_idx. The pairs are measured through `unlocked`.
Buffer<double> polygon_pairs_intersection_area(const Engine& engine, const DeferredArray<u32>& i_idx,
                                               const DeferredArray<u32>& j_idx, RunUnlocked unlocked);

// Convex hull area of one standalone point set, on the calling thread; xs and ys must have
// the same length.
double convex_hull_area_of(std::span<const double> xs, std::span<const double> ys);

// Convex hull area of each group offsets[g] .. offsets[g+1] - 1 of the points. Checks, after
// the arrays' contiguity: equal coordinate lengths, then offsets that start at 0, never
// decrease and end at the coordinate count. The groups are measured through `unlocked`.
Buffer<double> group_convex_hull_areas(std::span<const double> xs, std::span<const double> ys,
                                       std::span<const i64> offsets, RunUnlocked unlocked);

}  // namespace vardelin
