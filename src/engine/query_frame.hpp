#pragma once
#include <vector>

#include "core/numeric.hpp"
#include "engine/engine.hpp"
#include "index/kind.hpp"
#include "stats/types.hpp"

namespace vardelin {

// Steps shared by the single queries (range, containment, kNN, radius): each runs a timer,
// may answer from the histogram, plans and builds one index for one query, scans the delta
// buffer after the index and records one metrics cell.

// Per axis the smaller and the larger bound, as the planner and the histogram need them. The
// comparisons are written so that a NaN on an axis swaps its bounds.
inline Box normalised_box(const Box& raw) noexcept {
    return {raw.min_x < raw.max_x ? raw.min_x : raw.max_x, raw.min_y < raw.max_y ? raw.min_y : raw.max_y,
            raw.max_x > raw.min_x ? raw.max_x : raw.min_x, raw.max_y > raw.min_y ? raw.max_y : raw.min_y};
}

// True when a query over the normalised box can find nothing: no point waits in the delta
// buffer and the statistics histogram of a point dataset counts no point in any cell under
// the box. Without a histogram (empty or non-finite data, polygons) the answer is false.
bool nothing_under(const Engine& engine, const Box& normalised) noexcept;

// Appends the ids (main length + j) of the delta points inside the closed raw box and counts
// the scanned delta length as the call's delta work, which may merge the buffer. Nothing at
// all when the buffer is empty.
void scan_delta_box(Engine& engine, IndexKind kind, const Box& raw, std::vector<u64>& hits);

}  // namespace vardelin
