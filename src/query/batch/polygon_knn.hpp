#pragma once
#include <span>
#include <vector>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "core/polygon_layout.hpp"
#include "query/batch/knn_scratch.hpp"
#include "query/batch/knn_triple.hpp"
#include "query/geometry/part_contains_point.hpp"
#include "query/multipoly.hpp"

namespace vardelin {

class BruteForce;
class PackedRTree;

// What every search of one polygon kNN call reads: the dataset's layout, the index's own part
// boxes (one per part, part order), the part-to-polygon map, the search bound k, already
// clamped to the part count so that no size derived from it can wrap (k + 1, 2k) and no list
// outgrows what the dataset holds, and the number of logical polygons, which bounds what one
// query can find.
struct PolygonKnnInput {
    PolygonLayout layout;
    std::span<const Box> part_boxes;
    PartMap parts;
    u64 k = 0;
    u64 polygons = 0;
    // Which parts are plain (part_is_plain), found as the call measures them; none without.
    const PlainParts* plain_parts = nullptr;

    std::size_t part_count() const noexcept { return part_boxes.size(); }
};

// The k logical polygons nearest to (x, y) by exact point-to-polygon distance, left in
// scratch.best nearest first, one entry per polygon at its nearest part's distance: min(k, L)
// entries for L polygons with parts, none for a NaN query point (searched for nothing).
//
// Candidate parts come from the index by box distance, k + 1 at first, doubling while they
// name fewer than k polygons. A box search of the k-th exact distance around the point then
// measures, in ascending box distance, the parts outside the candidates that could still come
// closer. Box distances are keyed as the index ranks them (`square_key_to_box`, the index's
// own `box_dist2` carried past the exponent range), so the parts left out of the candidates
// are known by their key alone.
//
// The index's part count, the boxes and the map must describe the same parts (the callers
// check it once per call).
template <class Index>
void knn_polys_exact(const Index& index, const PolygonKnnInput& in, KnnScratch& scratch, double x, double y);

// The joins, over every query point in query tiles on the worker pool (tiles holding many
// points cut into slices, so a clustered query set still spreads over the pool). Results do not
// depend on the pool size.

// Blocks of `slots` entries per query point, in query order: the polygons found, nearest
// first, then padding (4294967295, +inf). `ids` and `distances` hold queries.size() * slots.
template <class Index>
void knn_polygon_blocks(const Index& index, const PolygonKnnInput& in, const PointSpans& queries, u64 slots,
                        std::span<u32> ids, std::span<double> distances);

// Every (distance, polygon, query) result in runs sorted by distance then polygon, one per
// slice in slice order (tiles in order, each tile's slices in its walking order): merged with
// `kway_merge_each`, results of equal distance and polygon come in tile order, then in the
// order the tile walks its points.
template <class Index>
std::vector<std::vector<KnnTriple>> knn_polygon_runs(const Index& index, const PolygonKnnInput& in,
                                                     const PointSpans& queries);

}  // namespace vardelin
