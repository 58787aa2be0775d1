#include "query/batch/polygon_knn.hpp"

#include <algorithm>

#include "core/error.hpp"
#include "core/memory.hpp"
#include "core/parallel.hpp"
#include "index/exact_ranking.hpp"
#include "index/part_boxes.hpp"
#include "index/search.hpp"
#include "query/batch/query_tiles.hpp"
#include "query/geometry/point_polygon_distance.hpp"

namespace vardelin {

namespace {

// Ranks a part as the indexes do, with its key carried past the exponent range: an empty part
// is nowhere although its box is the origin.
SquareKey part_key(const PolygonKnnInput& in, u64 part, double x, double y) noexcept {
    if (part_is_empty(in.layout, part)) return {SquareKey::kBeyond, kInfinity};
    return square_key_to_box(in.part_boxes[part], x, y);
}

// A part with a non-finite vertex, boxed with NaN, lies at +inf whatever its finite edges would
// measure.
// `plain_query`: the point is a plain_point and the call knows which parts are plain.
void measure(const PolygonKnnInput& in, KnnScratch& s, u64 part, double x, double y, bool plain_query) {
    const bool nowhere = has_nan(in.part_boxes[part]);
    const bool plain = plain_query && (*in.plain_parts)(in.layout, part);
    const double d = nowhere  ? kInfinity
                     : plain ? plain_point_to_polygon_distance(in.layout, part, x, y)
                             : point_to_polygon_distance(in.layout, part, x, y);
    insert_nearest(s.best, in.parts.polygon_of(part), in.k, d);
}

// Whether `part` is among the candidates, which are the parts nearest by box, the last at
// `last`: a part strictly nearer must be one of them and a part farther cannot, so only a tie
// with the last needs the list.
bool among_candidates(const KnnScratch& s, u64 part, const SquareKey& key, const SquareKey& last) noexcept {
    if (key < last) return true;
    if (last < key) return false;
    return std::any_of(s.candidates.begin(), s.candidates.end(), [&](const Neighbor& c) { return c.id == part; });
}

template <class Index>
void check_parts(const Index& index, const PolygonKnnInput& in) {
    const std::size_t n = in.part_count();
    if (index.size() != n || in.layout.part_count() != n || !in.parts.covers(n)) {
        throw InternalError("polygon kNN: index, part boxes and part map describe different parts");
    }
}

struct QuerySlices {
    QueryTiles tiles;
    std::vector<TileSlice> slices;
};

QuerySlices query_slices(const PointSpans& queries) {
    QuerySlices q;
    q.tiles = build_query_tiles(queries.xs(), queries.ys(), morton_order(queries.xs(), queries.ys()));
    q.slices = slice_query_tiles(q.tiles, tile_slice_limit(queries.size()));
    return q;
}

}  // namespace

template <class Index>
void knn_polys_exact(const Index& index, const PolygonKnnInput& in, KnnScratch& s, double x, double y) {
    s.best.clear();
    const u64 n_parts = in.part_count();
    const u64 k = in.k;
    if (k == 0 || nan_query(x, y)) return;
    const bool plain_query = in.plain_parts && plain_point(x, y);
    // k <= n_parts < 2^32: neither k + 1 nor the doubling can wrap.
    u64 m = std::min(n_parts, k + 1);
    const RankedItems items = RankedItems::parts(in.layout, in.part_boxes);
    for (;;) {
        s.best.clear();
        s.candidates.clear();
        nearest_into(index, x, y, m, s.candidates);
        make_ranking_exact(items, x, y, static_cast<std::size_t>(m), s.candidates, 0);
        for (const Neighbor& c : s.candidates) measure(in, s, c.id, x, y, plain_query);
        if (m >= n_parts || s.best.size() >= k) break;
        m = std::min(n_parts, 2 * m);
    }
    // Fewer than k polygons after a pass over every part: they are all there is.
    if (s.best.size() < k || s.candidates.size() >= n_parts || s.candidates.empty()) return;
    double kth = s.best.back().distance;
    SquareKey kth_key = square_key_of_length(kth);
    // Every part left out lies at least this far by box, and its exact distance is no less.
    const SquareKey last = part_key(in, s.candidates.back().id, x, y);
    if (!(last < kth_key)) return;

    s.range_hits.clear();
    const double reach = disc_reach(kth);
    const Box around{x - reach, y - reach, x + reach, y + reach};
    for_each_in_range(index, around, [&](u32 part) { s.range_hits.push_back(part); });
    s.ranked.clear();
    for (const u64 part : s.range_hits) {
        const SquareKey key = part_key(in, part, x, y);
        // A part no nearer than the k-th distance would end the walk; leaving it out now is the same.
        if (!(key < kth_key) || among_candidates(s, part, key, last)) continue;
        s.ranked.push_back(RankedPart{key, static_cast<u32>(part)});
    }
    std::sort(s.ranked.begin(), s.ranked.end(), [](const RankedPart& a, const RankedPart& b) { return a.key < b.key; });
    for (const RankedPart& r : s.ranked) {
        if (!(r.key < kth_key)) break;
        measure(in, s, r.id, x, y, plain_query);
        kth = s.best.back().distance;
        kth_key = square_key_of_length(kth);
    }
}

template <class Index>
void knn_polygon_blocks(const Index& index, const PolygonKnnInput& in, const PointSpans& queries, u64 slots,
                        std::span<u32> ids, std::span<double> distances) {
    check_parts(index, in);
    const u64 total = checked_mul(queries.size(), slots);
    if (ids.size() != total || distances.size() != total) throw InternalError("polygon kNN: result blocks misfit");
    const QuerySlices q = query_slices(queries);
    parallel_blocks(q.slices.size(), 1, [&](std::size_t first, std::size_t last) {
        KnnScratch s = KnnScratch::with_capacity(in.k, in.part_count());
        for (std::size_t i = first; i < last; ++i) {
            for (const u32 pos : q.slices[i].positions) {
                knn_polys_exact(index, in, s, queries.x(pos), queries.y(pos));
                const std::size_t at = static_cast<std::size_t>(pos) * slots;
                const std::size_t found = s.best.size();
                for (std::size_t j = 0; j < found; ++j) {
                    ids[at + j] = s.best[j].id;
                    distances[at + j] = s.best[j].distance;
                }
                std::fill_n(ids.begin() + static_cast<std::ptrdiff_t>(at + found), slots - found, kU32Max);
                std::fill_n(distances.begin() + static_cast<std::ptrdiff_t>(at + found), slots - found, kInfinity);
            }
        }
    });
}

template <class Index>
std::vector<std::vector<KnnTriple>> knn_polygon_runs(const Index& index, const PolygonKnnInput& in,
                                                     const PointSpans& queries) {
    check_parts(index, in);
    const QuerySlices q = query_slices(queries);
    std::vector<std::vector<KnnTriple>> runs(q.slices.size());
    parallel_blocks(q.slices.size(), 1, [&](std::size_t first, std::size_t last) {
        KnnScratch s = KnnScratch::with_capacity(in.k, in.part_count());
        for (std::size_t i = first; i < last; ++i) {
            std::vector<KnnTriple>& run = runs[i];
            run.reserve(checked_mul(q.slices[i].positions.size(), std::min(in.k, in.polygons)));
            for (const u32 pos : q.slices[i].positions) {
                knn_polys_exact(index, in, s, queries.x(pos), queries.y(pos));
                for (const NearestPolygon& b : s.best) run.push_back(KnnTriple{b.distance, b.id, pos});
            }
            // Stable, so runs cut from one tile merge back into the order of the whole tile.
            sort_knn_run(run);
        }
    });
    return runs;
}

#define VARDELIN_POLYGON_KNN(Index)                                                                                  \
    template void knn_polys_exact<Index>(const Index&, const PolygonKnnInput&, KnnScratch&, double, double);        \
    template void knn_polygon_blocks<Index>(const Index&, const PolygonKnnInput&, const PointSpans&, u64,           \
                                            std::span<u32>, std::span<double>);                                       \
    template std::vector<std::vector<KnnTriple>> knn_polygon_runs<Index>(const Index&, const PolygonKnnInput&,   \
                                                                         const PointSpans&);

VARDELIN_POLYGON_KNN(BruteForce)
VARDELIN_POLYGON_KNN(PackedRTree)
#undef VARDELIN_POLYGON_KNN

}  // namespace vardelin
