#include <nanobind/nanobind.h>

#include "core/error.hpp"
#include "lib/engine_methods.hpp"

namespace nb = nanobind;
using namespace vardelin;
using namespace vardelin::lib;

namespace {

void def_engine_methods(EngineClass& cls) {
#define VARDELIN_REGISTER_BINDER(method) def_##method(cls);
    VARDELIN_ENGINE_METHODS(VARDELIN_REGISTER_BINDER)
#undef VARDELIN_REGISTER_BINDER
}

}  // namespace

// nanobind refuses a second interpreter itself only from Python 3.12 on; below that, the second
// import would replace the process-wide binding state under the first interpreter's objects.
// The exported entry point below checks first, so nanobind's own stays local.
#pragma push_macro("NB_EXPORT")
#undef NB_EXPORT
#define NB_EXPORT
#define PyInit__core nanobind_init__core
NB_MODULE(_core, m) {
    m.doc() = "";
#ifndef VARDELIN_LEAK_WARNINGS
    // The interpreter does not clear what a daemon thread may still use at exit, so an Engine
    // referenced from one outlives it without any fault: no report on stderr for that.
    nb::set_leak_warnings(false);
#endif
    import_numpy();
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
    def_engine_methods(engine);
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
