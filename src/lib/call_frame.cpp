#include "lib/call_frame.hpp"

#include <unistd.h>

#include <cxxabi.h>
#include <exception>

#include "core/row_limit.hpp"

namespace vardelin::lib {

PyObject* refuse_new(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    try {
        PyErr_Format(PyExc_TypeError, "%s: no constructor defined!",
                     nb::type_name(nb::handle(reinterpret_cast<PyObject*>(type))).c_str());
    } catch (nb::python_error& e) {
        e.restore();
    }
    return nullptr;
}

nb::object wrap_engine(Engine&& engine) { return nb::cast(PyEngine(std::move(engine)), nb::rv_policy::move); }

PointSpans join_query(const InArray<double>& query_xs, const InArray<double>& query_ys) {
    const PointSpans queries = point_arrays(query_xs, query_ys, "query_xs", "query_ys");
    ensure_u32_indexable(queries.size(), "join query");
    return queries;
}

AggColumns aggregate_columns(const std::vector<InArray<double>>& values,
                             const std::vector<InArray<std::uint8_t>>& validity, std::size_t rows) {
    require_same_length(values.size(), validity.size(), "value_columns and validity_columns must have the same length");
    AggColumns columns;
    columns.values.reserve(values.size());
    columns.validity.reserve(values.size());
    for (std::size_t j = 0; j < values.size(); ++j) {
        const auto v = contiguous(values[j], "aggregate values must be contiguous float64 arrays");
        const auto ok = contiguous(validity[j], "aggregate validities must be contiguous uint8 arrays");
        if (v.size() != rows || ok.size() != rows) {
            throw Error("aggregate value and validity arrays must match the query length");
        }
        columns.values.push_back(v);
        columns.validity.push_back(ok);
    }
    return columns;
}

nb::tuple hand_over_aggregate(Metered<CompactAgg>&& result) {
    CompactAgg agg = settle(std::move(result));
    return nb::make_tuple(to_numpy(std::move(agg.ids)), to_numpy(std::move(agg.counts)), to_numpy(std::move(agg.sums)),
                          to_numpy(std::move(agg.valid_counts)));
}

namespace {

// The interpreter ends a thread that wants the lock back while it shuts down (a daemon thread
// still in a join at exit) with pthread_exit, whose unwinding would cross the binding layer's
// dispatcher: that is noexcept and would abort the process. Such a thread is parked instead, as
// later interpreters do themselves; the process is on its way out.
void take_back_lock(PyThreadState* state) noexcept {
    try {
        PyEval_RestoreThread(state);
    } catch (abi::__forced_unwind&) {
        for (;;) pause();
    }
}

}  // namespace

void without_gil(const std::function<void()>& work) {
    PyThreadState* const state = PyEval_SaveThread();
    std::exception_ptr failure;
    try {
        work();
    } catch (...) {
        failure = std::current_exception();
    }
    take_back_lock(state);
    if (failure) std::rethrow_exception(failure);
}

}  // namespace vardelin::lib
