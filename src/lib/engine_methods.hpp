#pragma once
#include "lib/call_frame.hpp"
#include "lib/signature.hpp"

namespace vardelin::lib {

// One binder per Engine method, each defining its method on the class and living in the file
// of its stage (construction, indexes, settings, single_queries, candidates, delta, point_joins,
// polygon_joins, measures, metrics, views). This list is the order of the Engine's method table,
// which is the order Python lists them: the binders are declared from it here and registered
// from it in module.cpp, so adding a method is its binder plus one line at its place below.
#define VARDELIN_ENGINE_METHODS(X)                                                                  \
    X(from_points)                                                                                  \
    X(from_polygon_rings)                                                                           \
    X(from_wkb_polygons)                                                                            \
    X(from_wkb_polygon_views)                                                                       \
    X(subset)                                                                                       \
    X(build_index)                                                                                  \
    X(build_index_for_calibration)                                                                  \
    X(set_index_mode)                                                                               \
    X(set_cost_factors)                                                                             \
    X(set_coordinate_system)                                                                        \
    X(coordinate_system)                                                                            \
    X(knn)                                                                                          \
    X(range_query)                                                                                  \
    X(radius_query)                                                                                 \
    X(intersect_ranges)                                                                             \
    X(intersect_hits)                                                                               \
    X(knn_from_candidates)                                                                          \
    X(contains_query)                                                                               \
    X(range_mask)                                                                                   \
    X(contains_mask)                                                                                \
    X(fused_mask)                                                                                   \
    X(knn_mask_from_candidates)                                                                     \
    X(append_delta)                                                                                 \
    X(flush)                                                                                        \
    X(delta_len)                                                                                    \
    X(batch_knn_join)                                                                               \
    X(batch_within_distance)                                                                        \
    X(batch_within)                                                                                 \
    X(batch_contains)                                                                               \
    X(batch_contains_aggregate)                                                                     \
    X(batch_within_distance_to_polygons)                                                            \
    X(batch_within_distance_to_polygons_aggregate)                                                  \
    X(batch_knn_to_polygons)                                                                        \
    X(batch_knn_to_polygons_sorted)                                                                 \
    X(polygon_intersects_self_join)                                                                 \
    X(polygon_areas)                                                                                \
    X(polygon_pairs_intersection_area)                                                              \
    X(points_within_distance_of_polygon)                                                            \
    X(convex_hull_area_of)                                                                          \
    X(group_convex_hull_areas)                                                                      \
    X(euclidean_distance)                                                                           \
    X(haversine_distance)                                                                           \
    X(euclidean_distance_to)                                                                        \
    X(haversine_distance_to)                                                                        \
    X(take_metrics)                                                                                 \
    X(index_bytes)                                                                                  \
    X(xs)                                                                                           \
    X(ys)                                                                                           \
    X(n)                                                                                            \
    X(extent)                                                                                       \
    X(stats_info)                                                                                   \
    X(repr)

#define VARDELIN_DECLARE_BINDER(method) void def_##method(EngineClass& cls);
VARDELIN_ENGINE_METHODS(VARDELIN_DECLARE_BINDER)
#undef VARDELIN_DECLARE_BINDER

// builders.cpp: the two builder classes, registered in the module after Engine
void bind_point_builder(nb::module_& m);
void bind_polygon_builder(nb::module_& m);

}  // namespace vardelin::lib
