#include "core/row_limit.hpp"
#include "core/timing.hpp"
#include "engine/engine.hpp"
#include "stats/collector.hpp"

namespace vardelin {

namespace {

Engine with_stats(SharedArray<double> xs, SharedArray<double> ys, DatasetStats stats, u64 statistics_ns) {
    Engine e;
    e.xs = std::move(xs);
    e.ys = std::move(ys);
    e.stats = std::move(stats);
    e.metrics.statistics_ns = statistics_ns;
    e.cost_factors = CostFactors::defaults();
    return e;
}

}  // namespace

Engine new_points(SharedArray<double> xs, SharedArray<double> ys) {
    const Stopwatch clock;
    DatasetStats stats = collect_points(view(xs), view(ys));
    const u64 ns = clock.elapsed_or_zero();
    return with_stats(std::move(xs), std::move(ys), std::move(stats), ns);
}

Engine engine_from_points(std::span<const double> xs, std::span<const double> ys) {
    ensure_u32_indexable(xs.size(), "point dataset");
    Buffer<double> x(xs.size()), y(ys.size());
    // The extent fold rides along with the copy; it is part of the statistics time.
    const Stopwatch clock;
    const Box folded = copy_and_fold(xs, ys, x.data(), y.data());
    DatasetStats stats = collect_points(xs, ys, folded);
    const u64 ns = clock.elapsed_or_zero();
    return with_stats(make_shared_array(std::move(x)), make_shared_array(std::move(y)), std::move(stats), ns);
}

}  // namespace vardelin
