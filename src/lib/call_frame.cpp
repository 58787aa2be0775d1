#include "lib/call_frame.hpp"

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
    const PointSpans queries = query_arrays(query_xs, query_ys);
    ensure_u32_indexable(queries.size(), "join query");
    return queries;
}

PointSpans query_arrays(const InArray<double>& query_xs, const InArray<double>& query_ys) {
    const auto xs = contiguous(query_xs, "query_xs must be a contiguous float64 array");
    const auto ys = contiguous(query_ys, "query_ys must be a contiguous float64 array");
    require_same_length(xs.size(), ys.size(), "query_xs and query_ys must have the same length");
    return {xs, ys};
}

void without_gil(const std::function<void()>& work) {
    const nb::gil_scoped_release release;
    work();
}

}  // namespace vardelin::lib
