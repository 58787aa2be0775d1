#include "engine/call_frame.hpp"

namespace vardelin {

IndexUse MeteredCall::plan_and_build(const QueryShape& shape, u64 q) {
    return build(plan_index(*engine_, shape, q));
}

IndexUse MeteredCall::plan_and_build(const QueryShape& shape, u64 q, IndexKind candidate) {
    return build(plan_index_with(*engine_, shape, q, candidate));
}

IndexUse MeteredCall::build(IndexKind planned) {
    const IndexUse use = use_index(*engine_, planned);
    column_ = column_of(use.planned);
    leave_out(use.build_ns);
    return use;
}

Metered<CompactAgg> compact_aggregate(MeteredCall&& call, GroupedAgg&& state, RunUnlocked unlocked) {
    CompactAgg out;
    unlocked([&] { out = std::move(state).compact(); });
    const u64 rows = out.ids.size();
    return {std::move(call), std::move(out), rows};
}

void MeteredCall::record(u64 rows) noexcept {
    if (recorded_) return;
    recorded_ = true;
    engine_->metrics.record(op_, column_, clock_.elapsed(), build_ns_, rows);
}

}  // namespace vardelin
