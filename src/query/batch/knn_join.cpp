#include "query/batch/knn_join.hpp"

#include "query/batch/query_tiles.hpp"

namespace vardelin {

void rank_with_waiting(const PointSpans& main, const PointSpans& waiting, double x, double y, u64 want,
                       std::vector<Neighbor>& found) {
    for (Neighbor& n : found) n.dist2 = point_dist2(main.x(n.id), main.y(n.id), x, y);
    const std::size_t main_length = main.size();
    found.reserve(found.size() + waiting.size());
    for (std::size_t j = 0; j < waiting.size(); ++j) {
        found.push_back(Neighbor{static_cast<u32>(main_length + j), point_dist2(waiting.x(j), waiting.y(j), x, y)});
    }
    keep_nearest(found, 0, want);
}

std::vector<u32> knn_query_order(const PointSpans& queries) { return morton_order(queries.xs(), queries.ys()); }

}  // namespace vardelin
