#include "lib/convert.hpp"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

namespace vardelin::lib {

namespace {

[[noreturn]] void raise_prefixed_type_error(const char* name) {
    // Re-raise the pending TypeError with the argument's name in front, as argument
    // conversion failures read everywhere else.
    nb::python_error err;
    if (!err.matches(PyExc_TypeError)) throw err;
    // Formatted by the interpreter, so a NUL in the original message does not cut it short.
    PyObject* message = PyUnicode_FromFormat("argument '%s': %S", name, err.value().ptr());
    if (message) {
        PyErr_SetObject(PyExc_TypeError, message);
        Py_DECREF(message);
    }
    throw nb::python_error();
}

}  // namespace

void import_numpy() {
    if (_import_array() < 0) throw nb::python_error();
}

nb::object numpy_over(void* data, std::size_t count, ElementType type, nb::capsule owner) {
    int typenum = NPY_DOUBLE;
    switch (type) {
        case ElementType::Bool: typenum = NPY_BOOL; break;
        case ElementType::U8: typenum = NPY_UINT8; break;
        case ElementType::I32: typenum = NPY_INT32; break;
        case ElementType::U32: typenum = NPY_UINT32; break;
        case ElementType::I64: typenum = NPY_INT64; break;
        case ElementType::U64: typenum = NPY_UINT64; break;
        case ElementType::F64: typenum = NPY_DOUBLE; break;
    }
    npy_intp shape[1] = {static_cast<npy_intp>(count)};
    nb::object array = nb::steal(PyArray_SimpleNewFromData(1, shape, typenum, data));
    if (!array.is_valid()) throw nb::python_error();
    // The base takes the capsule's reference, also when it fails.
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.ptr()), owner.release().ptr()) != 0) {
        throw nb::python_error();
    }
    return array;
}

double to_f64(nb::handle value, const char* name) {
    const double v = PyFloat_AsDouble(value.ptr());
    if (v == -1.0 && PyErr_Occurred()) raise_prefixed_type_error(name);
    return v;
}

u64 to_u64(nb::handle value, const char* name) {
    PyObject* index = PyNumber_Index(value.ptr());
    if (!index) raise_prefixed_type_error(name);
    const unsigned long long v = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw nb::python_error();
    return static_cast<u64>(v);
}

PointSpans point_arrays(const InArray<double>& xs, const InArray<double>& ys, const char* x_name,
                        const char* y_name) {
    // The messages are built only for a refusal: this check runs on every call.
    constexpr const char* kNotContiguous = " must be a contiguous float64 array";
    if (!readable_in_place(xs)) throw Error(std::string(x_name) + kNotContiguous);
    if (!readable_in_place(ys)) throw Error(std::string(y_name) + kNotContiguous);
    if (xs.shape(0) != ys.shape(0)) throw Error(std::string(x_name) + " and " + y_name + " must have the same length");
    return {{xs.data(), xs.shape(0)}, {ys.data(), ys.shape(0)}};
}

RingArrays ring_arrays(const InArray<double>& xs, const InArray<double>& ys, const InArray<i64>& ring_offsets,
                       const InArray<i64>& poly_offsets, const std::optional<InArray<i64>>& part_poly,
                       const OffsetMessages& messages) {
    RingArrays out;
    out.xs = contiguous(xs, "xs must be a contiguous float64 array");
    out.ys = contiguous(ys, "ys must be a contiguous float64 array");
    out.ring_offsets = contiguous(ring_offsets, messages.ring_offsets);
    out.poly_offsets = contiguous(poly_offsets, messages.poly_offsets);
    require_same_length(out.xs.size(), out.ys.size(), "xs and ys must have the same length");
    if (part_poly) out.part_poly = deferred_contiguous(*part_poly, messages.part_poly);
    return out;
}

std::optional<u64> to_optional_u64(nb::handle value, const char* name) {
    if (!value.is_valid() || value.is_none()) return std::nullopt;
    return to_u64(value, name);
}

void require_sequence(nb::handle value, const char* name) {
    if (PyUnicode_Check(value.ptr())) {
        throw nb::type_error((std::string("argument '") + name + "': Can't extract `str` to `Vec`").c_str());
    }
    if (!PySequence_Check(value.ptr())) {
        throw nb::type_error((std::string("argument '") + name + "': '" +
                              nb::type_name(value.type()).c_str() + "' object cannot be converted to 'Sequence'")
                                 .c_str());
    }
}

namespace {

Py_ssize_t sequence_length(nb::handle value, const char* name) {
    require_sequence(value, name);
    const Py_ssize_t n = PySequence_Size(value.ptr());
    if (n < 0) throw nb::python_error();
    return n;
}

// Any sequence but a str of read-only 1-D arrays of T, none converted, each kept alive by
// its NumPy object.
template <class T>
std::vector<InArray<T>> to_arrays(nb::handle value, const char* name, const char* dtype) {
    const Py_ssize_t n = sequence_length(value, name);
    std::vector<InArray<T>> out;
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        nb::object item = nb::steal(PySequence_GetItem(value.ptr(), i));
        if (!item.is_valid()) throw nb::python_error();
        InArray<T> array;
        if (!nb::try_cast(item, array, /*convert=*/false)) {
            throw nb::type_error((std::string("argument '") + name + "': item " + std::to_string(i) +
                                  " is not a one-dimensional " + dtype + " numpy array")
                                     .c_str());
        }
        out.push_back(std::move(array));
    }
    return out;
}

}  // namespace

std::vector<InArray<std::uint8_t>> to_byte_arrays(nb::handle value, const char* name) {
    return to_arrays<std::uint8_t>(value, name, "uint8");
}

std::vector<InArray<double>> to_float_arrays(nb::handle value, const char* name) {
    return to_arrays<double>(value, name, "float64");
}

std::vector<double> to_float_list(nb::handle value, const char* name) {
    const Py_ssize_t n = sequence_length(value, name);
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        nb::object item = nb::steal(PySequence_GetItem(value.ptr(), i));
        if (!item.is_valid()) throw nb::python_error();
        const double v = PyFloat_AsDouble(item.ptr());
        if (v == -1.0 && PyErr_Occurred()) raise_prefixed_type_error(name);
        out.push_back(v);
    }
    return out;
}

std::vector<std::vector<u64>> to_u64_lists(nb::handle value, const char* name) {
    require_sequence(value, name);
    std::vector<std::vector<u64>> out;
    // Like any sequence conversion: the length is only a capacity hint, iteration decides.
    const Py_ssize_t hint = PySequence_Size(value.ptr());
    if (hint < 0) PyErr_Clear();
    else out.reserve(static_cast<std::size_t>(hint));
    nb::object outer = nb::steal(PyObject_GetIter(value.ptr()));
    if (!outer.is_valid()) raise_prefixed_type_error(name);
    while (nb::object list = nb::steal(PyIter_Next(outer.ptr()))) {
        require_sequence(list, name);
        std::vector<u64> hits;
        const Py_ssize_t len = PySequence_Size(list.ptr());
        if (len < 0) PyErr_Clear();
        else hits.reserve(static_cast<std::size_t>(len));
        nb::object inner = nb::steal(PyObject_GetIter(list.ptr()));
        if (!inner.is_valid()) raise_prefixed_type_error(name);
        while (nb::object hit = nb::steal(PyIter_Next(inner.ptr()))) hits.push_back(to_u64(hit, name));
        if (PyErr_Occurred()) raise_prefixed_type_error(name);
        out.push_back(std::move(hits));
    }
    if (PyErr_Occurred()) raise_prefixed_type_error(name);
    return out;
}

std::vector<double> to_float_tuple_values(nb::handle value, std::size_t arity, const char* name) {
    require_sequence(value, name);
    std::vector<double> out;
    nb::object items = nb::steal(PyObject_GetIter(value.ptr()));
    if (!items.is_valid()) raise_prefixed_type_error(name);
    while (nb::object item = nb::steal(PyIter_Next(items.ptr()))) {
        if (!PyTuple_Check(item.ptr())) {
            throw nb::type_error((std::string("argument '") + name + "': '" + nb::type_name(item.type()).c_str() +
                                  "' object cannot be converted to 'PyTuple'")
                                     .c_str());
        }
        const auto len = static_cast<std::size_t>(PyTuple_GET_SIZE(item.ptr()));
        if (len != arity) {
            throw nb::value_error(("expected tuple of length " + std::to_string(arity) +
                                   ", but got tuple of length " + std::to_string(len))
                                      .c_str());
        }
        for (std::size_t i = 0; i < arity; ++i) {
            const double v = PyFloat_AsDouble(PyTuple_GET_ITEM(item.ptr(), static_cast<Py_ssize_t>(i)));
            if (v == -1.0 && PyErr_Occurred()) raise_prefixed_type_error(name);
            out.push_back(v);
        }
    }
    if (PyErr_Occurred()) raise_prefixed_type_error(name);
    return out;
}

}  // namespace vardelin::lib
