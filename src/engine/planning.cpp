#include "engine/planning.hpp"

#include "engine/index_build.hpp"

namespace vardelin {

BuiltKinds built_kinds(const Engine& engine) noexcept {
    return {static_cast<bool>(engine.brute_force), static_cast<bool>(engine.r_tree),
            static_cast<bool>(engine.kd_tree), static_cast<bool>(engine.grid)};
}

IndexKind plan_index(const Engine& engine, const QueryShape& shape, u64 q) noexcept {
    return plan_with_built(engine.stats, shape, q, engine.index_mode, engine.cost_factors, built_kinds(engine));
}

IndexKind serving_kind(const Engine& engine, IndexKind planned) noexcept {
    if (engine.is_polygons() && (planned == IndexKind::KdTree || planned == IndexKind::Grid)) {
        return IndexKind::RTree;
    }
    return planned;
}

IndexUse use_index(Engine& engine, IndexKind planned) {
    const IndexKind served = serving_kind(engine, planned);
    return {planned, served, build_index_if_needed(engine, served)};
}

IndexUse plan_and_build_index(Engine& engine, const QueryShape& shape, u64 q) {
    return use_index(engine, plan_index(engine, shape, q));
}

bool point_polygon_orientation(const Engine& engine, const QueryShape& shape, u64 q, IndexKind kind,
                               double distance) noexcept {
    // The normal orientation pays for a build only when the index that would serve it is missing.
    const bool built = built_kinds(engine)[static_cast<std::size_t>(serving_kind(engine, kind))];
    return flip_point_polygon_join(engine.stats, shape, q, engine.index_mode, engine.cost_factors, kind, built,
                                   distance);
}

}  // namespace vardelin
