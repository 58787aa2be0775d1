#pragma once
#include <functional>
#include <utility>

#include "core/numeric.hpp"
#include "core/timing.hpp"
#include "engine/engine.hpp"
#include "engine/indexes.hpp"
#include "engine/metrics.hpp"
#include "planner/query_shape.hpp"
#include "query/batch/grouped_agg.hpp"

namespace vardelin {

// The frame every metered Engine call shares, in the core: a timer, the index choice and the
// builds it needs (their time left out of the call's), and one metrics cell recorded when the
// caller closes the call (see Metered). The core knows nothing of Python: the binding converts
// the result before or after it records, as each method's timing rule says, and it supplies the
// RunUnlocked that releases the interpreter lock around a kernel.

// Runs work that touches no Python object. The binding's version releases the interpreter lock
// for its duration (the Engine stays borrowed); `run_in_place` is for callers without one.
using RunUnlocked = void (*)(const std::function<void()>& work);
inline void run_in_place(const std::function<void()>& work) { work(); }

class MeteredCall {
public:
    // Starts the timer. The call is counted in the metrics row of `op`, column "none" unless an
    // index is planned or a column is set.
    MeteredCall(Engine& engine, Operation op) noexcept : engine_(&engine), op_(op) {}

    // The Engine's planner for q queries of this shape, then the build of what the plan needs:
    // the planned kind becomes the column, the build time is left out of the call's time.
    IndexUse plan_and_build(const QueryShape& shape, u64 q);

    // The same with a candidate kind of the method's own (plan_index_with).
    IndexUse plan_and_build(const QueryShape& shape, u64 q, IndexKind candidate);

    // The same for a kind planned already.
    IndexUse build(IndexKind planned);

    // A further lazy structure the call set up (the prepared polygons): its time stays out too.
    void leave_out(u64 build_ns) noexcept { build_ns_ = sat_add(build_ns_, build_ns); }

    // For methods whose column is not the kind they planned (a flipped run, a shortcut).
    void set_column(int column) noexcept { column_ = column; }

    // Stops the timer and adds the call to its cell: calls + 1, elapsed time less the builds,
    // `rows` output rows. Only the first record of a call counts; a call that fails before it
    // records nothing.
    void record(u64 rows) noexcept;

    Engine& engine() const noexcept { return *engine_; }

private:
    Engine* engine_;
    Operation op_;
    Stopwatch clock_;
    int column_ = kNoIndexColumn;
    u64 build_ns_ = 0;
    bool recorded_ = false;
};

// What every metered entry returns: its result, and its call still open, to be recorded by
// whoever hands the result over. The joins' binding converts `value` for Python first, so that
// their recorded time covers the conversion; the rest settle it before converting.
template <class R>
struct Metered {
    MeteredCall call;
    R value;
    u64 rows = 0;
};

// Records the call now and hands back its value: for the results whose time ends before they
// are converted (the single queries, the aggregate joins) and for the callers inside the core
// (the candidate masks run full single queries).
template <class R>
R settle(Metered<R>&& result) noexcept {
    result.call.record(result.rows);
    return std::move(result.value);
}

// The close of both aggregate joins: the state is compacted through `unlocked`, a second
// stretch without the interpreter lock, inside the call's time; the rows are the groups kept.
Metered<CompactAgg> compact_aggregate(MeteredCall&& call, GroupedAgg&& state, RunUnlocked unlocked);

}  // namespace vardelin
