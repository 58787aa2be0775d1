#include "core/parallel.hpp"
#include "core/row_limit.hpp"
#include "core/timing.hpp"
#include "engine/engine.hpp"
#include "stats/collector.hpp"

namespace vardelin {

Engine new_points(SharedArray<double> xs, SharedArray<double> ys) {
    Engine e;
    const Stopwatch clock;
    e.stats = collect_points(view(xs), view(ys));
    e.metrics.statistics_ns = clock.elapsed_or_zero();
    e.xs = std::move(xs);
    e.ys = std::move(ys);
    e.cost_factors = CostFactors::defaults();
    return e;
}

Engine engine_from_points(std::span<const double> xs, std::span<const double> ys) {
    ensure_u32_indexable(xs.size(), "point dataset");
    auto x = make_shared_array(parallel_copy(xs.data(), xs.size()));
    auto y = make_shared_array(parallel_copy(ys.data(), ys.size()));
    return new_points(std::move(x), std::move(y));
}

}  // namespace vardelin
