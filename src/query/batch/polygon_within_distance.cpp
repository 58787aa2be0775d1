#include "query/batch/polygon_within_distance.hpp"

#include <algorithm>

#include "core/parallel.hpp"
#include "index/search.hpp"
#include "query/batch/fold_listed.hpp"
#include "query/batch/query_tiles.hpp"

namespace vardelin {

namespace {

// emit(g) once for every logical polygon within d of (x, y), at its first matching part in the
// index's candidate order. `seen` is the caller's scratch, emptied here.
template <class Index, class Emit>
void for_each_polygon_within(const Index& index, const PolygonLayout& layout, PartMap parts,
                             const PlainParts& plain_parts, double x, double y, double d, std::vector<u32>& seen,
                             Emit&& emit) {
    if (!distance_matches_some(d) || !finite_point(x, y)) return;
    seen.clear();
    const bool plain = plain_distance(d) && plain_point(x, y);
    for_each_in_range(index, reach_box(x, y, d), [&](u32 p) {
        if (!part_within(layout, p, x, y, d, plain && plain_parts(layout, p))) return;
        const u32 g = parts.polygon_of(p);
        if (parts.grouped()) {
            for (const u32 s : seen) {
                if (s == g) return;
            }
            seen.push_back(g);
        }
        emit(g);
    });
}

// Rows per parallel task: enough to amortise a task, few enough that skewed rows spread over
// the workers.
constexpr std::size_t kDistanceRowsPerTask = 256;

// The polygons of every query row, as compressed rows: row q's are polygons[starts[q] ..
// starts[q + 1]], in the index's candidate order of their first matching part.
struct RowMatches {
    std::vector<u64> starts;  // rows + 1 entries
    std::vector<u32> polygons;
};

// The rows are searched along a Z-order curve, so that neighbouring queries find the same
// polygons (and index nodes) in cache: searched in input order, nearly every candidate part
// is a cache miss. Each task lists the polygons of its rows in curve order; they are then
// moved to their rows' places, so the result is the same for any thread count.
template <class Index>
RowMatches matches_by_row(const Index& index, const PolygonLayout& layout, PartMap parts,
                          const PointSpans& queries, double d) {
    const std::size_t n = queries.size();
    const std::vector<u32> order = morton_order(queries.xs(), queries.ys());
    std::vector<u32> counts(n);
    const PlainParts plain_parts(layout.part_count());
    const std::vector<std::vector<u32>> found =
        map_chunks(n, kDistanceRowsPerTask, [&](std::size_t, std::size_t b, std::size_t e) {
            std::vector<u32> polygons;
            std::vector<u32> seen;
            for (std::size_t i = b; i < e; ++i) {
                const u32 q = order[i];
                const std::size_t before = polygons.size();
                for_each_polygon_within(index, layout, parts, plain_parts, queries.x(q), queries.y(q), d, seen,
                                        [&](u32 g) { polygons.push_back(g); });
                counts[q] = static_cast<u32>(polygons.size() - before);
            }
            return polygons;
        });
    RowMatches out;
    out.starts.resize(n + 1);
    u64 total = 0;
    for (std::size_t q = 0; q < n; ++q) {
        out.starts[q] = total;
        total += counts[q];
    }
    out.starts[n] = total;
    out.polygons.resize(total);
    parallel_blocks(found.size(), 1, [&](std::size_t first, std::size_t last) {
        for (std::size_t c = first; c < last; ++c) {
            const u32* from = found[c].data();
            const std::size_t end = std::min(n, (c + 1) * kDistanceRowsPerTask);
            for (std::size_t i = c * kDistanceRowsPerTask; i < end; ++i) {
                const u32 q = order[i];
                std::copy_n(from, counts[q], out.polygons.data() + out.starts[q]);
                from += counts[q];
            }
        }
    });
    return out;
}

template <class Index>
Buffer<u32> pairs_over(const Index& index, const PolygonLayout& layout, PartMap parts,
                       const PointSpans& queries, double d) {
    if (!distance_matches_some(d)) return {};
    const RowMatches m = matches_by_row(index, layout, parts, queries, d);
    Buffer<u32> pairs;
    pairs.resize(checked_mul(m.polygons.size(), 2));
    parallel_blocks(queries.size(), kDistanceRowsPerTask, [&](std::size_t b, std::size_t e) {
        for (std::size_t q = b; q < e; ++q) {
            for (u64 k = m.starts[q]; k < m.starts[q + 1]; ++k) {
                pairs[2 * k] = static_cast<u32>(q);
                pairs[2 * k + 1] = m.polygons[k];
            }
        }
    });
    return pairs;
}

// The matches are listed first (4 bytes each), searched along the curve, then folded in row
// order: a fold that searched in row order would wait on a cache miss for nearly every part.
template <class Index>
GroupedAgg aggregate_over(const Index& index, const PolygonLayout& layout, PartMap parts, u64 groups,
                          const PointSpans& queries, double d, const AggColumns& columns) {
    GroupedAgg state(groups, columns.size());
    if (!distance_matches_some(d)) {
        columns.require_rows(queries.size());
        return state;
    }
    aggregate_listed(state, queries.size(), columns, [&](u64 begin, u64 end) {
        const std::size_t n = static_cast<std::size_t>(end - begin);
        const PointSpans block(queries.xs().subspan(begin, n), queries.ys().subspan(begin, n));
        return matches_by_row(index, layout, parts, block, d);
    });
    return state;
}

}  // namespace

Buffer<u32> within_distance_pairs(const BruteForce& index, const PolygonLayout& layout, PartMap parts,
                                  const PointSpans& queries, double d) {
    return pairs_over(index, layout, parts, queries, d);
}

Buffer<u32> within_distance_pairs(const PackedRTree& index, const PolygonLayout& layout, PartMap parts,
                                  const PointSpans& queries, double d) {
    return pairs_over(index, layout, parts, queries, d);
}

GroupedAgg within_distance_aggregate(const BruteForce& index, const PolygonLayout& layout,
                                     PartMap parts, u64 groups, const PointSpans& queries, double d,
                                     const AggColumns& columns) {
    return aggregate_over(index, layout, parts, groups, queries, d, columns);
}

GroupedAgg within_distance_aggregate(const PackedRTree& index, const PolygonLayout& layout,
                                     PartMap parts, u64 groups, const PointSpans& queries, double d,
                                     const AggColumns& columns) {
    return aggregate_over(index, layout, parts, groups, queries, d, columns);
}

}  // namespace vardelin
