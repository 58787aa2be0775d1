#include <nanobind/nanobind.h>

#include "core/error.hpp"
#include "lib/engine_methods.hpp"

namespace nb = nanobind;
using namespace vardelin;
using namespace vardelin::lib;

namespace {

// The Engine's methods in the order of its method table, which is the order Python lists them.
// A method not built yet keeps its place as a comment naming its binder.
void def_engine_methods(EngineClass& cls) {
    def_from_points(cls);
    def_from_polygon_rings(cls);
    def_from_wkb_polygons(cls);
    def_from_wkb_polygon_views(cls);
    def_subset(cls);
    def_build_index(cls);
    def_build_index_for_calibration(cls);
    def_set_index_mode(cls);
    def_set_cost_factors(cls);
    def_set_coordinate_system(cls);
    def_coordinate_system(cls);
    def_knn(cls);
    def_range_query(cls);
    def_radius_query(cls);
    def_intersect_ranges(cls);
    def_intersect_hits(cls);
    def_knn_from_candidates(cls);
    def_contains_query(cls);
    def_range_mask(cls);
    def_contains_mask(cls);
    def_fused_mask(cls);
    def_knn_mask_from_candidates(cls);
    def_append_delta(cls);
    def_flush(cls);
    def_delta_len(cls);
    def_batch_knn_join(cls);
    def_batch_within_distance(cls);
    def_batch_within(cls);
    def_batch_contains(cls);
    def_batch_contains_aggregate(cls);
    def_batch_within_distance_to_polygons(cls);
    def_batch_within_distance_to_polygons_aggregate(cls);
    def_batch_knn_to_polygons(cls);
    def_batch_knn_to_polygons_sorted(cls);
    def_polygon_intersects_self_join(cls);
    def_polygon_areas(cls);
    def_polygon_pairs_intersection_area(cls);
    def_points_within_distance_of_polygon(cls);
    def_convex_hull_area_of(cls);
    def_group_convex_hull_areas(cls);
    def_euclidean_distance(cls);
    def_haversine_distance(cls);
    def_euclidean_distance_to(cls);
    def_haversine_distance_to(cls);
    def_take_metrics(cls);
    def_index_bytes(cls);
    def_xs(cls);
    def_ys(cls);
    def_n(cls);
    def_extent(cls);
    def_stats_info(cls);
    def_repr(cls);
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
