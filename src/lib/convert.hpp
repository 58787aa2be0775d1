#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>

#include "core/deferred_array.hpp"
#include "core/error.hpp"
#include "core/numeric.hpp"
#include "core/point_spans.hpp"

namespace vardelin::lib {

namespace nb = nanobind;

// Read-only 1-D input arrays of exactly the stated dtype. Bind them with .noconvert(): nothing
// is converted or copied, and strides are checked by `contiguous` with the system's message.
template <class T>
using InArray = nb::ndarray<const T, nb::ndim<1>, nb::device::cpu>;

template <class T>
using OutArray = nb::ndarray<nb::numpy, T, nb::ndim<1>>;

// An array is contiguous when it has at most one element or a stride of one element. It is read
// in place, so its elements must also lie at their type's alignment (reading through a
// misaligned pointer is undefined): an array that NumPy made from a byte offset is refused too.
template <class T>
bool readable_in_place(const InArray<T>& a) {
    const std::size_t n = a.shape(0);
    const bool aligned = reinterpret_cast<std::uintptr_t>(a.data()) % alignof(T) == 0;
    return (n <= 1 || a.stride(0) == 1) && (n == 0 || aligned);
}

template <class T>
std::span<const T> contiguous(const InArray<T>& a, const char* message) {
    if (!readable_in_place(a)) throw Error(message);
    return {a.data(), a.shape(0)};
}

// The same test, with the refusal handed to the core to raise when its checks reach it.
template <class T>
DeferredArray<T> deferred_contiguous(const InArray<T>& a, const char* message) {
    if (!readable_in_place(a)) return {{}, message};
    return {{a.data(), a.shape(0)}, nullptr};
}

inline void require_same_length(std::size_t a, std::size_t b, const char* message) {
    if (a != b) throw Error(message);
}

// An array built for NumPy by to_numpy. Its signature reads as the 1-D NumPy array of T that
// nanobind's ndarray would announce; it is made by NumPy's own constructor, which costs a
// fraction of the ndarray export on every small result.
template <class T>
struct NumpyArray {
    nb::object array;
};

// The element types results come in, named without NumPy's headers, which only convert.cpp
// includes.
enum class ElementType { Bool, U8, I32, U32, I64, U64, F64 };

template <class T>
constexpr ElementType element_type() {
    if constexpr (std::is_same_v<T, bool>) return ElementType::Bool;
    else if constexpr (std::is_same_v<T, std::uint8_t>) return ElementType::U8;
    else if constexpr (std::is_same_v<T, std::int32_t>) return ElementType::I32;
    else if constexpr (std::is_same_v<T, std::uint32_t>) return ElementType::U32;
    else if constexpr (std::is_same_v<T, std::int64_t>) return ElementType::I64;
    else if constexpr (std::is_same_v<T, std::uint64_t>) return ElementType::U64;
    else {
        static_assert(std::is_same_v<T, double>, "no NumPy element type for this result");
        return ElementType::F64;
    }
}

// A 1-D NumPy array of `count` elements over `data`, with `owner` as its base: the memory lives
// as long as the array and its views.
nb::object numpy_over(void* data, std::size_t count, ElementType type, nb::capsule owner);

// Called once at module load: NumPy's C interface is looked up before any result is built.
void import_numpy();

// Hands an owning vector to NumPy without copying: the vector moves to the heap and a capsule
// frees it with the array. `Elem` names another dtype of the same size for the elements (the
// core's 0/1 bytes become bool), since the core knows no bool arrays.
template <class Elem = void, class Vec>
NumpyArray<std::conditional_t<std::is_void_v<Elem>, typename std::decay_t<Vec>::value_type, Elem>> to_numpy(
    Vec&& values) {
    using Stored = typename std::decay_t<Vec>::value_type;
    using T = std::conditional_t<std::is_void_v<Elem>, Stored, Elem>;
    static_assert(sizeof(T) == sizeof(Stored));
    auto* heap = new std::decay_t<Vec>(std::move(values));
    nb::capsule owner(heap, [](void* p) noexcept { delete static_cast<std::decay_t<Vec>*>(p); });
    return {numpy_over(heap->data(), heap->size(), element_type<T>(), std::move(owner))};
}

// Two coordinate arrays after their checks, in this order: the first contiguous, the second
// contiguous, equal lengths. The messages name the arguments: "{x} must be a contiguous float64
// array", "{x} and {y} must have the same length".
PointSpans point_arrays(const InArray<double>& xs, const InArray<double>& ys, const char* x_name = "xs",
                        const char* y_name = "ys");

// The ring-array arguments (xs, ys, ring_offsets, poly_offsets, optional part_poly) after
// their checks: contiguity argument by argument, then equal coordinate lengths. The contiguity
// of part_poly is judged when the core's checks reach it. The constructor and the builder word
// the offset arrays' refusals differently, hence the two message sets.
struct OffsetMessages {
    const char* ring_offsets;
    const char* poly_offsets;
    const char* part_poly;
};
inline constexpr OffsetMessages kConstructorOffsets{"ring_offsets must be a contiguous int64 array",
                                                    "poly_offsets must be a contiguous int64 array",
                                                    "part_poly must be a contiguous int64 array"};
inline constexpr OffsetMessages kBuilderOffsets{"ring_offsets must be contiguous", "poly_offsets must be contiguous",
                                                "part_poly must be contiguous"};

struct RingArrays {
    std::span<const double> xs, ys;
    std::span<const i64> ring_offsets, poly_offsets;
    std::optional<DeferredArray<i64>> part_poly;
    const DeferredArray<i64>* part_map() const noexcept { return part_poly ? &*part_poly : nullptr; }
};

RingArrays ring_arrays(const InArray<double>& xs, const InArray<double>& ys, const InArray<i64>& ring_offsets,
                       const InArray<i64>& poly_offsets, const std::optional<InArray<i64>>& part_poly,
                       const OffsetMessages& messages);

// Float parameters go through the interpreter's float(), after the Engine is borrowed, so an
// argument whose conversion calls back into the same Engine finds it borrowed. A failure is
// TypeError naming the argument.
double to_f64(nb::handle value, const char* name);

// Index results become Python lists of int, built in place from the ids: `id_of(item)` gives
// each item's id.
template <class Items, class IdOf>
nb::list to_int_list(const Items& items, IdOf&& id_of) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(items.size()));
    if (!list) throw nb::python_error();
    nb::list out = nb::steal<nb::list>(list);
    Py_ssize_t i = 0;
    for (const auto& item : items) {
        const u64 id = static_cast<u64>(id_of(item));
        // The signed constructor has the interpreter's fast path for one-digit ints.
        PyObject* v = id <= static_cast<u64>(LONG_MAX) ? PyLong_FromLong(static_cast<long>(id))
                                                       : PyLong_FromUnsignedLongLong(id);
        if (!v) throw nb::python_error();
        PyList_SET_ITEM(list, i++, v);
    }
    return out;
}

template <class Items>
nb::list to_int_list(const Items& items) {
    return to_int_list(items, [](const auto& id) { return id; });
}

// Unsigned parameters go through __index__: a float is TypeError, a negative or too large
// value the interpreter's OverflowError.
u64 to_u64(nb::handle value, const char* name);

// An optional unsigned parameter (`total_q_count=None`): None gives no value and is not
// converted; anything else goes through to_u64.
std::optional<u64> to_optional_u64(nb::handle value, const char* name);

// Sequence arguments accept any object that passes the interpreter's sequence check, except a
// str; otherwise TypeError naming the argument.
void require_sequence(nb::handle value, const char* name);

// Any sequence but a str of read-only 1-D uint8 arrays, none converted; failures are
// TypeError naming the argument. The arrays keep their NumPy objects alive.
std::vector<InArray<std::uint8_t>> to_byte_arrays(nb::handle value, const char* name);

// The same for read-only 1-D float64 arrays.
std::vector<InArray<double>> to_float_arrays(nb::handle value, const char* name);

// Any sequence but a str, each item through float(); failures are TypeError naming the
// argument.
std::vector<double> to_float_list(nb::handle value, const char* name);

// Any sequence but a str of such sequences, each item through __index__ as by to_u64.
std::vector<std::vector<u64>> to_u64_lists(nb::handle value, const char* name);

// Any sequence but a str of real tuples (subclasses too) of exactly `arity` items, each through
// float(), flattened tuple after tuple. A non-tuple item is TypeError naming the argument; a
// tuple of another length the unprefixed ValueError of tuple extraction.
std::vector<double> to_float_tuple_values(nb::handle value, std::size_t arity, const char* name);

template <std::size_t N>
std::vector<std::array<double, N>> to_float_tuples(nb::handle value, const char* name) {
    const std::vector<double> flat = to_float_tuple_values(value, N, name);
    std::vector<std::array<double, N>> out(flat.size() / N);
    for (std::size_t i = 0; i < out.size(); ++i) std::copy_n(flat.begin() + i * N, N, out[i].begin());
    return out;
}

}  // namespace vardelin::lib

namespace nanobind::detail {

template <class T>
struct type_caster<vardelin::lib::NumpyArray<T>> {
    NB_TYPE_CASTER(vardelin::lib::NumpyArray<T>, make_caster<vardelin::lib::OutArray<T>>::Name)

    bool from_python(handle, uint8_t, cleanup_list*) noexcept { return false; }
    static handle from_cpp(const vardelin::lib::NumpyArray<T>& value, rv_policy, cleanup_list*) noexcept {
        return value.array.inc_ref();
    }
};

}  // namespace nanobind::detail
