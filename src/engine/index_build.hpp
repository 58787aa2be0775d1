#pragma once
#include "core/numeric.hpp"
#include "engine/engine.hpp"
#include "index/kind.hpp"

namespace vardelin {

// Fills the slot of `kind` from the main arrays when it is empty, counts the build in the
// metrics and returns its time in nanoseconds; 0, touching nothing, when the slot is filled.
// Callers leave this time out of the query that triggered the build.
u64 build_index_if_needed(Engine& engine, IndexKind kind);

// Heap bytes of every built index; the coordinate arrays and prepared polygons never count.
u64 index_bytes(const Engine& engine);

// Sets up the prepared polygons of a polygon dataset on first use and returns the set-up time;
// 0 when nothing was done (point dataset, already set up, or index mode "none").
u64 build_prepared_if_needed(Engine& engine);

}  // namespace vardelin
