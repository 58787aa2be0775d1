#pragma once
#include <nanobind/nanobind.h>

namespace vardelin::lib {

// Registers `_PointBuilder`; module.cpp calls it right after the Engine class.
void bind_point_builder(nanobind::module_& m);

}  // namespace vardelin::lib
