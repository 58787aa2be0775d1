#pragma once
#include <functional>
#include <utility>
#include <vector>

#include <nanobind/nanobind.h>

#include "core/point_spans.hpp"
#include "engine/call_frame.hpp"
#include "engine/engine.hpp"
#include "lib/borrow.hpp"
#include "lib/convert.hpp"
#include "query/batch/grouped_agg.hpp"

namespace vardelin::lib {

// The binding's half of the call frame: the borrowed Engine, the checks of the join arguments,
// the kernel without the interpreter lock and the hand-over that closes the metered call.

using PyEngine = Borrowed<Engine>;
using EngineClass = nb::class_<PyEngine>;

// The Py_tp_new slot of a class that Python cannot construct: __new__ refuses with the TypeError
// of a call, since an object it left uninitialised could reach a method or export memory.
PyObject* refuse_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;

// Moves a finished record into a new Python Engine object.
nb::object wrap_engine(Engine&& engine);

// The query arrays of a join, checked in this order: query_xs contiguous, query_ys contiguous,
// equal lengths, then the row limit labelled "join query". Call it after every argument is
// converted and before the join's own checks that follow the row limit.
PointSpans join_query(const InArray<double>& query_xs, const InArray<double>& query_ys);

// The value and validity columns of an aggregate join, checked after join_query in this
// order: equal column counts, then column by column its values contiguous, its validities
// contiguous, both of the query length. The spans point into the caller's arrays.
AggColumns aggregate_columns(const std::vector<InArray<double>>& values,
                             const std::vector<InArray<std::uint8_t>>& validity, std::size_t rows);


// Runs `work` with the interpreter lock released; a RunUnlocked for the core's entries. The
// caller holds its Engine borrow throughout, so a call on the same Engine from another thread
// is refused at once instead of waiting. `work` must touch no Python object.
void without_gil(const std::function<void()>& work);

// Converts a metered result for Python, then records the call: the recorded time covers the
// conversion, as the metrics promise.
template <class R, class Convert>
auto hand_over(Metered<R>&& result, Convert&& convert) {
    auto out = convert(std::move(result.value));
    result.call.record(result.rows);
    return out;
}

// The same for a vector that becomes a NumPy array without copying; the Python object is made
// inside the timed stretch.
template <class R>
nb::object hand_over(Metered<R>&& result) {
    return hand_over(std::move(result), [](R&& values) { return to_numpy(std::move(values)).array; });
}

// The aggregate joins' hand-over: the call's time ends before its arrays are made, and Python
// receives (ids, counts, sums, valid_counts), each array taking over its vector.
nb::tuple hand_over_aggregate(Metered<CompactAgg>&& result);

}  // namespace vardelin::lib
