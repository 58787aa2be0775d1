#pragma once
#include <optional>
#include <span>
#include <vector>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "core/polygon_layout.hpp"
#include "core/shared_array.hpp"
#include "index/grid.hpp"
#include "query/batch/grouped_agg.hpp"
#include "query/multipoly.hpp"

namespace vardelin {

// The within-distance joins to polygons run from the polygon side: a uniform grid over the
// query points, searched once per part with the part's box grown by the distance, then the
// exact point-to-part distance of every query point found. The planner picks it when few parts
// meet many query points. Everything here lives for one call and runs without the interpreter
// lock; after construction the state is only read, by any number of workers.
class FlippedPolygonQuery {
public:
    // `queries` holds at least one point; the part map has an entry below `logical_count` for
    // every part, or none. d is finite and >= 0
    // (the planner flips for no other distance); the matching rule is that of the query-side
    // run all the same.
    FlippedPolygonQuery(const PointSpans& queries, const PolygonLayout& layout, PartMap parts,
                        u64 logical_count, double d);

    u64 polygons() const noexcept { return logical_count_; }
    std::size_t query_count() const noexcept { return queries_.size(); }

    // The query rows within d of some part of logical polygon g, ascending and each once, into
    // `out` (cleared first).
    void matching_queries(u64 g, std::vector<u32>& out) const;

private:
    template <class Visit>
    void for_each_part(u64 g, Visit&& visit) const;

    UniformGrid grid_;
    Buffer<Box> part_boxes_;
    std::optional<PartsCsr> polygon_parts_;  // none when every part is its own polygon
    PointSpans queries_;
    PolygonLayout layout_;
    u64 logical_count_;
    double d_;
};

// Pairs [q0, g0, q1, g1, ...] of every logical polygon and the query rows within d of it,
// polygon-major and ascending in the row within a polygon.
Buffer<u32> flipped_within_distance_pairs(const FlippedPolygonQuery& query);

// The same matches folded into per-polygon counts and column sums, each polygon's values added
// in ascending row order from 0, as the query-side aggregate adds them: both give the same
// state to the last bit. The state is allocated (and its size checked) before any search.
GroupedAgg flipped_within_distance_aggregate(const FlippedPolygonQuery& query, const AggColumns& columns);

}  // namespace vardelin
