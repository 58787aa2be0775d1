#pragma once
#include <nanobind/nanobind.h>

#include "core/shared_array.hpp"

namespace vardelin::lib {

namespace nb = nanobind;

// A read-only float64 NumPy array over the shared array, without copying. Its base object, a
// `CoordinateBuffer`, holds one reference to the array, so the view outlives the Engine and
// keeps showing these values after a merge has given the Engine new arrays.
nb::object coordinate_view(const SharedArray<double>& array);

}  // namespace vardelin::lib
