#include <nanobind/nanobind.h>

#include "core/error.hpp"
#include "lib/point_builder.hpp"
#include "lib/py_engine.hpp"

namespace nb = nanobind;
using namespace vardelin;
using namespace vardelin::lib;

namespace vardelin::lib {

nb::object wrap_engine(Engine&& engine) { return nb::cast(PyEngine(std::move(engine)), nb::rv_policy::move); }

}  // namespace vardelin::lib

NB_MODULE(_core, m) {
    m.doc() = "";
    nb::register_exception_translator([](const std::exception_ptr& p, void*) {
        try {
            std::rethrow_exception(p);
        } catch (const Error& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        } catch (const BorrowError& e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        } catch (const InternalError& e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        }
    });

    EngineClass engine(m, "Engine", nb::is_final());
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
