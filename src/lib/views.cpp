#include "lib/engine_methods.hpp"

#include <utility>

#include "engine/delta.hpp"

namespace vardelin::lib {

namespace {

struct CoordinateBuffer {
    SharedArray<double> array;
};

// Exported read-only: NumPy then refuses to make a view over it writeable, because the shared
// arrays are read by other views and by worker threads without locks.
int get_buffer(PyObject* self, Py_buffer* out, int flags) noexcept {
    static const double empty = 0.0;
    if (!nb::inst_ready(self)) {
        PyErr_SetString(PyExc_BufferError, "CoordinateBuffer is not initialised");
        return -1;
    }
    const auto& array = nb::inst_ptr<CoordinateBuffer>(self)->array;
    const double* data = array && !array->empty() ? array->data() : &empty;
    const auto bytes = static_cast<Py_ssize_t>(array ? array->size() * sizeof(double) : 0);
    return PyBuffer_FillInfo(out, self, const_cast<double*>(data), bytes, 1, flags);
}

PyType_Slot coordinate_buffer_slots[] = {{Py_bf_getbuffer, reinterpret_cast<void*>(get_buffer)},
                                         {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
                                         {0, nullptr}};

// Created on the first view, in a scope of its own so that the class never becomes a module
// attribute. The reference is kept for the life of the process: every later view reuses the
// same class.
nb::handle coordinate_buffer_type() {
    static nb::handle type = [] {
        nb::object scope = nb::steal(PyModule_New("vardelin._core"));
        if (!scope.is_valid()) throw nb::python_error();
        nb::class_<CoordinateBuffer> cls(scope, "CoordinateBuffer", nb::is_final(),
                                         nb::type_slots(coordinate_buffer_slots));
        return cls.release();
    }();
    return type;
}


// A read-only float64 NumPy array over the shared array, without copying. Its base object, a
// `CoordinateBuffer`, holds one reference to the array, so the view outlives the Engine and
// keeps showing these values after a merge has given the Engine new arrays.
nb::object coordinate_view(const SharedArray<double>& array) {
    coordinate_buffer_type();
    nb::object owner = nb::cast(CoordinateBuffer{array}, nb::rv_policy::move);
    return nb::module_::import_("numpy").attr("frombuffer")(owner, nb::arg("dtype") = "float64");
}

// What a view is: a read-only float64 NumPy array over the shared coordinates.
#define VARDELIN_VIEW "numpy.ndarray[dtype=float64, shape=(*), writable=False]"

// Exclusive, because waiting points are merged first so that the view shows them.
void def_coordinate_view(EngineClass& cls, const char* name, SharedArray<double> Engine::*array, const char* sig,
                         const char* doc) {
    cls.def(
        name,
        [array](PyEngine& self) {
            auto e = self.exclusive();
            merge_delta(*e);
            return coordinate_view((*e).*array);
        },
        nb::sig(sig), doc);
}

}  // namespace

void def_xs(EngineClass& cls) {
    def_coordinate_view(cls, "xs", &Engine::xs, "def xs(self) -> " VARDELIN_VIEW,
                        "Zero-copy read-only view of the dataset x coordinates");
}

void def_ys(EngineClass& cls) {
    def_coordinate_view(cls, "ys", &Engine::ys, "def ys(self) -> " VARDELIN_VIEW,
                        "Zero-copy read-only view of the dataset y coordinates");
}

}  // namespace vardelin::lib
