#include <nanobind/nanobind.h>

#include "core/error.hpp"
#include "lib/point_builder.hpp"
#include "lib/py_engine.hpp"

namespace nb = nanobind;
using namespace vardelin;
using namespace vardelin::lib;

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

}  // namespace vardelin::lib

// nanobind refuses a second interpreter itself only from Python 3.12 on; below that, the second
// import would replace the process-wide binding state under the first interpreter's objects.
// The exported entry point below checks first, so nanobind's own stays local.
#pragma push_macro("NB_EXPORT")
#undef NB_EXPORT
#define NB_EXPORT
#define PyInit__core nanobind_init__core
NB_MODULE(_core, m) {
    m.doc() = "";
    nb::register_exception_translator([](const std::exception_ptr& p, void*) {
        try {
            std::rethrow_exception(p);
        } catch (const Error& e) {
            nb::object text = nb::steal(PyUnicode_DecodeUTF8(e.message().data(),
                                                             static_cast<Py_ssize_t>(e.message().size()), "replace"));
            if (text.is_valid()) PyErr_SetObject(PyExc_ValueError, text.ptr());
        } catch (const BorrowError& e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        } catch (const InternalError& e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        }
    });

    static PyType_Slot engine_slots[] = {{Py_tp_new, reinterpret_cast<void*>(refuse_new)}, {0, nullptr}};
    EngineClass engine(m, "Engine", nb::is_final(), nb::type_slots(engine_slots));
    bind_engine_dataset(engine);
    bind_engine_polygons(engine);
    bind_engine_wkb(engine);
    bind_engine_planner(engine);
    bind_engine_settings(engine);
    bind_engine_queries(engine);
    bind_engine_delta(engine);
    bind_engine_metrics(engine);
    bind_engine_views(engine);
    bind_engine_hits(engine);
    bind_engine_measures(engine);
    bind_engine_indexes(engine);
    bind_engine_candidates(engine);
    bind_engine_subset(engine);

    bind_point_builder(m);
    bind_polygon_builder(m);
}
#undef PyInit__core
#pragma pop_macro("NB_EXPORT")

extern "C" NB_EXPORT PyObject* PyInit__core() {
    static PyInterpreterState* const first = PyInterpreterState_Get();
    if (PyInterpreterState_Get() != first) {
        PyErr_SetString(PyExc_ImportError, "module _core does not support loading in subinterpreters");
        return nullptr;
    }
    return nanobind_init__core();
}
