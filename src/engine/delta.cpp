#include "engine/delta.hpp"

#include <algorithm>
#include <cmath>

#include "core/append.hpp"
#include "core/error.hpp"
#include "core/parallel.hpp"
#include "core/row_limit.hpp"
#include "stats/collector.hpp"

namespace vardelin {

u64 delta_flush_threshold(u64 main_length) noexcept {
    const u64 t = saturating_cast<u64>(static_cast<double>(main_length) * kDeltaFlushFraction);
    return std::max<u64>(t, 1);
}

void require_delta_support(const Engine& engine) {
    if (engine.is_polygons()) throw Error("delta buffer is not supported for polygon datasets");
}

void append_delta(Engine& engine, const PointSpans& points) {
    require_delta_support(engine);
    const u64 main_length = engine.x().size();
    ensure_u32_indexable(sat_add(sat_add(main_length, engine.delta_xs.size()), points.size()),
                         "point dataset after append");
    append_pair(engine.delta_xs, engine.delta_ys, points.xs(), points.ys());
    if (engine.delta_xs.size() > delta_flush_threshold(main_length)) merge_delta(engine);
}

void merge_delta(Engine& engine) {
    if (engine.delta_xs.empty()) return;
    auto xs = make_shared_array(parallel_concat<double>(engine.x(), engine.delta_xs));
    auto ys = make_shared_array(parallel_concat<double>(engine.y(), engine.delta_ys));
    engine.stats = collect_points({view(xs), view(ys)});
    engine.xs = std::move(xs);
    engine.ys = std::move(ys);
    engine.delta_xs.clear();
    engine.delta_ys.clear();
    engine.delta_scan_work = 0;
    engine.indexes.clear();
}

std::vector<u32> delta_range(const Engine& engine, double min_x, double min_y, double max_x, double max_y) {
    std::vector<u32> hits;
    const std::size_t main_length = engine.x().size();
    const PointSpans delta = engine.delta();
    for (std::size_t j = 0; j < delta.size(); ++j) {
        const double x = delta.x(j), y = delta.y(j);
        // Written as comparisons so that a NaN on either side fails them.
        if (min_x <= x && x <= max_x && min_y <= y && y <= max_y) {
            hits.push_back(static_cast<u32>(main_length + j));
        }
    }
    return hits;
}

std::optional<u64> delta_work_threshold(IndexKind kind, u64 main_length) noexcept {
    switch (kind) {
        case IndexKind::BruteForce: break;
        case IndexKind::RTree:
        case IndexKind::KdTree: {
            // A tree rebuild costs about n log n; below two points it never pays.
            if (main_length < 2) break;
            const u64 depth = saturating_cast<u64>(std::ceil(std::log2(static_cast<double>(main_length))));
            return sat_mul(main_length, depth);
        }
        case IndexKind::Grid: return main_length;
    }
    return std::nullopt;
}

bool add_delta_work(Engine& engine, IndexKind kind, u64 work) {
    sat_add_to(engine.delta_scan_work, work);
    const auto threshold = delta_work_threshold(kind, engine.x().size());
    if (!threshold || engine.delta_scan_work < *threshold) return false;
    merge_delta(engine);
    return true;
}

}  // namespace vardelin
