#pragma once
#include <string>
#include <string_view>

#include "core/numeric.hpp"
#include "engine/engine.hpp"
#include "index/kind.hpp"
#include "planner/query_shape.hpp"

namespace vardelin {

// Choosing, building and reporting the indexes of a dataset.

// The Engine's planner entry: the index kind for q queries of this shape under the Engine's
// statistics, mode, cost factors and built indexes. Only chooses; the kind it returns is the
// metrics column of the call.
IndexKind plan_index(const Engine& engine, const QueryShape& shape, u64 q) noexcept;

// The planner entry of the joins that bring a candidate kind of their own: the Engine's mode
// applied to it, "auto" keeping it only when its build and q queries cost strictly less than
// scanning. Built indexes are not weighed.
IndexKind plan_index_with(const Engine& engine, const QueryShape& shape, u64 q, IndexKind candidate) noexcept;

// The kind whose index answers a planned kind. On a polygon dataset a k-d tree or grid would
// index vertices, not parts, so the R-tree over the parts answers instead.
IndexKind serving_kind(const Engine& engine, IndexKind planned) noexcept;

struct IndexUse {
    IndexKind planned;  // the planner's choice: the metrics column
    IndexKind served;   // the slot that answers, filled on return
    u64 build_ns;       // time of a build this call triggered, to leave out of its own time
};

// Builds what a planned kind needs (see serving_kind) and reports it.
IndexUse use_index(Engine& engine, IndexKind planned);

// True when a within-distance join of q query points to this polygon dataset should run
// flipped; `kind` is the index the normal orientation would use. Pure: builds nothing.
bool point_polygon_orientation(const Engine& engine, const QueryShape& shape, u64 q, IndexKind kind,
                               double distance) noexcept;

// Fills the slot of `kind` from the main arrays when it is empty, counts the build in the
// metrics and returns its time in nanoseconds; 0, touching nothing, when the slot is filled.
// Callers leave this time out of the query that triggered the build.
u64 build_index_if_needed(Engine& engine, IndexKind kind);

// Sets up the prepared polygons of a polygon dataset on first use and returns the set-up time;
// 0 when nothing was done (point dataset, already set up, or index mode "none").
u64 build_prepared_if_needed(Engine& engine);

// Builds the index a representative range query over (0, 0)-(1, 1) would naturally use,
// whatever the index mode; a no-op when it is built already.
void build_index(Engine& engine);

// Builds the named kind ("grid", "kd_tree" or "r_tree") for the calibration harness and leaves
// the index mode Explicit(kind). Refuses other names, and the grid and k-d tree on polygons,
// before changing anything.
void build_index_for_calibration(Engine& engine, std::string_view kind);

// Heap bytes of every built index; the coordinate arrays and prepared polygons never count.
u64 index_bytes(const Engine& engine);

// One line describing the dataset statistics, for debugging.
std::string stats_info(const Engine& engine);

}  // namespace vardelin
