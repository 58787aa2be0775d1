#include "engine/containment_joins.hpp"

#include <utility>

#include "core/error.hpp"
#include "core/memory.hpp"
#include "engine/indexes.hpp"
#include "query/batch/contains.hpp"
#include "query/batch/contains_aggregate.hpp"

namespace vardelin {

namespace {

ContainmentSide containment_side(const Engine& engine) {
    return ContainmentSide(engine.layout(), engine.prepared_polygons.get(), view(engine.part_poly));
}

// The timer starts here, after every check; builds stay out of its time. Both joins weigh q
// point lookups on the R-tree against scanning every part box per point.
IndexUse prepare(MeteredCall& call, Engine& engine, u64 q) {
    const IndexUse use = call.plan_and_build(QueryShape::point(0.0, 0.0), q, IndexKind::RTree);
    call.leave_out(build_prepared_if_needed(engine));
    return use;
}

}  // namespace

Metered<Buffer<u32>> batch_contains(Engine& engine, const PointSpans& queries,
                                         std::optional<u64> total_q_count, RunUnlocked unlocked) {
    require_dataset(engine, DatasetKind::Polygons, Operation::BatchContains);
    MeteredCall call(engine, Operation::BatchContains);
    const IndexUse use = prepare(call, engine, total_q_count.value_or(queries.size()));
    const ContainmentSide side = containment_side(engine);
    Buffer<u32> pairs;
    unlocked([&] { engine.indexes.visit_parts(use.served, [&](const auto& index) { pairs = contains_pairs(index, side, queries); }); });
    const u64 rows = pairs.size() / 2;
    return {std::move(call), std::move(pairs), rows};
}

Metered<CompactAgg> batch_contains_aggregate(Engine& engine, const PointSpans& queries, const AggColumns& columns,
                                             RunUnlocked unlocked) {
    require_dataset(engine, DatasetKind::Polygons, Operation::BatchContainsAggregate);
    // A state or result beyond the machine fails here, before anything is built or counted.
    ensure_allocatable(GroupedAgg::peak_bytes(engine.logical_count, engine.layout().part_count(), columns.size()));
    MeteredCall call(engine, Operation::BatchContainsAggregate);
    const IndexUse use = prepare(call, engine, queries.size());
    const ContainmentSide side = containment_side(engine);
    GroupedAgg state;
    unlocked([&] {
        engine.indexes.visit_parts(use.served, [&](const auto& index) {
            state = contains_aggregate(index, side, queries, columns, engine.logical_count);
        });
    });
    return compact_aggregate(std::move(call), std::move(state), unlocked);
}

}  // namespace vardelin
