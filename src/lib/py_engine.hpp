#pragma once
#include <nanobind/nanobind.h>

#include "engine/engine.hpp"
#include "lib/borrow.hpp"

namespace vardelin::lib {

namespace nb = nanobind;

using PyEngine = Borrowed<Engine>;
using EngineClass = nb::class_<PyEngine>;

// The Py_tp_new slot of a class that Python cannot construct: __new__ refuses with the TypeError
// of a call, since an object it left uninitialised could reach a method or export memory.
PyObject* refuse_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;

// Moves a finished record into a new Python Engine object.
nb::object wrap_engine(Engine&& engine);

// Each group of Engine methods registers itself; module.cpp calls them in method-table order.
void bind_engine_dataset(EngineClass& cls);
void bind_engine_planner(EngineClass& cls);
void bind_engine_settings(EngineClass& cls);
void bind_engine_queries(EngineClass& cls);
void bind_engine_delta(EngineClass& cls);
void bind_engine_metrics(EngineClass& cls);
void bind_engine_views(EngineClass& cls);
void bind_engine_hits(EngineClass& cls);
void bind_engine_measures(EngineClass& cls);
void bind_engine_indexes(EngineClass& cls);
void bind_engine_polygons(EngineClass& cls);
void bind_engine_wkb(EngineClass& cls);
void bind_engine_candidates(EngineClass& cls);
void bind_engine_subset(EngineClass& cls);

// The builder classes register themselves in the module after Engine.
void bind_polygon_builder(nb::module_& m);

}  // namespace vardelin::lib
