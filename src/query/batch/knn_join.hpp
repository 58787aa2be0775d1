#pragma once
#include <algorithm>
#include <numeric>
#include <vector>

#include "core/error.hpp"
#include "core/memory.hpp"
#include "core/numeric.hpp"
#include "core/parallel.hpp"
#include "core/point_spans.hpp"
#include "index/exact_ranking.hpp"
#include "index/kdtree_batch.hpp"
#include "index/search.hpp"
#include "index/spatial_index.hpp"

namespace vardelin {

// The batch kNN join's kernel: the k nearest ids of every query point, in blocks that follow
// one another in query order. Callers reshape the result to (n, c), so every block holds
// exactly c = min(k, items + waiting) ids, whatever the query or the data: a block one id short
// would shift every later row of the reshape onto the wrong query.

// Ids per block: k, at most every item of the index and every point waiting beside it.
inline u64 knn_block_size(u64 k, u64 items, u64 waiting) noexcept { return std::min(k, sat_add(items, waiting)); }

// The result's bytes for `queries` blocks of `block` ids; std::bad_alloc when it has no size.
inline u64 knn_join_bytes(u64 queries, u64 block) { return checked_mul(checked_mul(queries, block), sizeof(u32)); }

// Keeps in `found` the `want` nearest of the index's answer and the waiting points (ids main
// length + j), in `nearer` order. The index's distances are measured again from the main
// arrays, so a point ranks by the same value whether it waits or is merged. Only point datasets
// have waiting points, so every id the index found is a main point.
void rank_with_waiting(const PointSpans& main, const PointSpans& waiting, double x, double y, u64 want,
                       std::vector<Neighbor>& found);

// The searches of one join: the index's own nearest, one worker's run after another.
template <class Index>
class JoinSearches {
public:
    JoinSearches(const Index& index, std::size_t) noexcept : index_(index) {}
    struct Run {
        const Index& index;
        void nearest(double x, double y, u64 k, std::vector<Neighbor>& out) const { nearest_into(index, x, y, k, out); }
    };
    Run run() const noexcept { return Run{index_}; }

private:
    const Index& index_;
};

// A k-d tree pays once per join of many queries for the boxes that prune its searches far from
// the points.
template <>
class JoinSearches<PackedKdTree> : public KdTreeBatchNearest {
public:
    using KdTreeBatchNearest::KdTreeBatchNearest;
};

// Writes the c ids of one query point into `block`: those of the index's answer, ranked with
// the waiting points, checked against the exponent range. Around a NaN query point every
// distance is NaN, and a NaN-last ranking with ties by ascending id lists the ids 0 .. c - 1.
template <class Search>
void knn_block(Search& search, const RankedItems& items, double x, double y, std::size_t c,
               std::vector<Neighbor>& found, u32* block) {
    if (c == 0) return;
    if (nan_query(x, y)) {
        std::iota(block, block + c, u32{0});
        return;
    }
    found.clear();
    search.nearest(x, y, c, found);
    if (!items.waiting().empty()) rank_with_waiting(items.main(), items.waiting(), x, y, c, found);
    make_ranking_exact(items, x, y, c, found, 0);
    // Every index answers min(k, size) ids for a query that is not NaN.
    if (found.size() != c) throw InternalError("batch kNN join: an index answered a short neighbour list");
    for (std::size_t i = 0; i < c; ++i) block[i] = found[i].id;
}

// The order the queries are answered in: neighbouring queries share the index's nodes in cache.
// Every query writes only its own block, so the result does not depend on it.
std::vector<u32> knn_query_order(const PointSpans& queries);

// The ids of the c = knn_block_size(k, index.size(), waiting points) nearest neighbours of every
// query point, nearest first, block after block in query order: the index's ids when nothing
// waits, else the index's answer and the waiting points ranked together. `items` are what the
// index was built over (the main points and the waiting ones, or the parts). The size n * c is
// checked before anything is allocated: a size beyond the machine is a std::bad_alloc, not a
// wrapped length or a process killed while filling memory the kernel granted optimistically.
template <class Index>
Buffer<u32> par_knn_join(const Index& index, const RankedItems& items, const PointSpans& queries, u64 k) {
    const PointSpans& waiting = items.waiting();
    const std::size_t c = static_cast<std::size_t>(knn_block_size(k, index.size(), waiting.size()));
    ensure_allocatable(knn_join_bytes(queries.size(), c));
    Buffer<u32> ids;
    ids.resize(queries.size() * c);
    if (ids.empty()) return ids;
    const std::vector<u32> order = knn_query_order(queries);
    const JoinSearches<Index> searches(index, queries.size());
    // Small blocks of queries: one far-out or NaN-heavy stretch must not hold up a whole worker.
    parallel_blocks(order.size(), 256, [&](std::size_t first, std::size_t last) {
        std::vector<Neighbor> found;
        found.reserve(static_cast<std::size_t>(checked_add(c, waiting.size())));
        auto search = searches.run();
        for (std::size_t i = first; i != last; ++i) {
            const u32 q = order[i];
            knn_block(search, items, queries.x(q), queries.y(q), c, found, ids.data() + std::size_t{q} * c);
        }
    });
    return ids;
}

}  // namespace vardelin
