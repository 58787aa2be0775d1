#include "engine/knn.hpp"

#include <algorithm>

#include "core/timing.hpp"
#include "engine/delta_work.hpp"
#include "engine/index_search.hpp"
#include "engine/planning.hpp"

namespace vardelin {

namespace {

// Only point datasets hold delta points, so every index hit is a main point.
void merge_delta_neighbors(const Engine& engine, double x, double y, u64 k, std::vector<Neighbor>& found) {
    const std::span<const double> xs = engine.x(), ys = engine.y();
    for (Neighbor& n : found) n.dist2 = point_dist2(xs[n.id], ys[n.id], x, y);
    const std::size_t main_length = xs.size();
    const std::size_t count = std::min(engine.delta_xs.size(), engine.delta_ys.size());
    found.reserve(found.size() + count);
    for (std::size_t j = 0; j < count; ++j) {
        const double d2 = point_dist2(engine.delta_xs[j], engine.delta_ys[j], x, y);
        found.push_back(Neighbor{static_cast<u32>(main_length + j), d2});
    }
    keep_nearest(found, 0, k);
}

}  // namespace

std::vector<Neighbor> knn(Engine& engine, double x, double y, u64 k) {
    const Stopwatch clock;
    const IndexUse use = plan_and_build_index(engine, QueryShape::knn(k, x, y), 1);
    std::vector<Neighbor> found;
    nearest_in(engine, use.served, x, y, k, found);
    if (!engine.delta_xs.empty()) {
        // A NaN query point matches no waiting point either; the call still counts its scan.
        if (!nan_query(x, y)) merge_delta_neighbors(engine, x, y, k, found);
        add_delta_work(engine, use.served, engine.delta_xs.size());
    }
    engine.metrics.record(Operation::Knn, column_of(use.planned), clock.elapsed(), use.build_ns, found.size());
    return found;
}

}  // namespace vardelin
