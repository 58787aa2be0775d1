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

void MeteredCall::record(u64 rows) noexcept {
    if (recorded_) return;
    recorded_ = true;
    engine_->metrics.record(op_, column_, clock_.elapsed(), build_ns_, rows);
}

}  // namespace vardelin
