#include "query/batch/flipped_within_distance.hpp"

#include "core/parallel.hpp"
#include "core/shared_array.hpp"
#include "index/kdtree.hpp"
#include "query/batch/within_distance.hpp"

namespace vardelin {

namespace {

// Dataset rows per unit of parallel work. Each row searches a tree that may hold many
// millions of points, so chunks stay small enough to spread a few thousand rows over the pool.
constexpr std::size_t kDatasetChunk = 64;

// The tree hands back its own copies of the query coordinates, bit for bit the caller's, so
// the test reads them where the walk already is.
template <class Reach>
Buffer<u32> walk_dataset(const PackedKdTree& tree, const PointSpans& dataset, const Reach& reach) {
    const auto search = [&](u32 row, std::vector<u32>& ids, std::vector<PointHit>&) {
        const double x = dataset.x(row), y = dataset.y(row);
        if (!reach.centre_reaches(x, y)) return;
        const Box box = reach.search_box(x, y);
        reach.keep_over(reach.test(x, y), box, [&](const auto& keep) {
            tree.for_each_point_in_range(box, [&](u32 q, double qx, double qy) {
                if (keep(qx, qy)) ids.push_back(q);
            });
        });
    };
    const std::vector<u32> walk = morton_order(dataset.xs(), dataset.ys());
    return pairs_by_row(search_rows(walk, kDatasetChunk, search), false);
}

}  // namespace

Buffer<u32> par_within_distance_flipped(const PointSpans& queries, const PointSpans& dataset, double distance,
                                        bool geographic) {
    if (queries.empty() || dataset.empty() || reaches_nothing(distance)) return {};
    const std::size_t nq = queries.size();
    const PackedKdTree tree = PackedKdTree::over_points(make_shared_array(parallel_copy(queries.xs().data(), nq)),
                                                        make_shared_array(parallel_copy(queries.ys().data(), nq)));
    if (geographic) return walk_dataset(tree, dataset, HaversineReach{distance});
    return walk_dataset(tree, dataset, PlanarReach{distance});
}

}  // namespace vardelin
