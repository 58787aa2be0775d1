#pragma once
#include "lib/call_frame.hpp"
#include "lib/signature.hpp"

namespace vardelin::lib {

// One binder per Engine method, each defining its method on the class. module.cpp calls them
// in the order of the Engine's method table; the comment above each group names the file that
// defines it. The join and polygon methods are declared here ahead of their definitions, so
// that adding one is its definition plus one line in module.cpp's list.

// construction.cpp: building a dataset, and what describes it
void def_from_points(EngineClass& cls);
void def_from_polygon_rings(EngineClass& cls);
void def_from_wkb_polygons(EngineClass& cls);
void def_from_wkb_polygon_views(EngineClass& cls);
void def_subset(EngineClass& cls);
void def_n(EngineClass& cls);
void def_extent(EngineClass& cls);
void def_repr(EngineClass& cls);

// indexes.cpp
void def_build_index(EngineClass& cls);
void def_build_index_for_calibration(EngineClass& cls);
void def_index_bytes(EngineClass& cls);
void def_stats_info(EngineClass& cls);

// settings.cpp
void def_set_index_mode(EngineClass& cls);
void def_set_cost_factors(EngineClass& cls);
void def_set_coordinate_system(EngineClass& cls);
void def_coordinate_system(EngineClass& cls);

// single_queries.cpp
void def_knn(EngineClass& cls);
void def_range_query(EngineClass& cls);
void def_radius_query(EngineClass& cls);
void def_contains_query(EngineClass& cls);

// candidates.cpp
void def_intersect_ranges(EngineClass& cls);
void def_intersect_hits(EngineClass& cls);
void def_knn_from_candidates(EngineClass& cls);
void def_range_mask(EngineClass& cls);
void def_contains_mask(EngineClass& cls);
void def_fused_mask(EngineClass& cls);
void def_knn_mask_from_candidates(EngineClass& cls);

// delta.cpp
void def_append_delta(EngineClass& cls);
void def_flush(EngineClass& cls);
void def_delta_len(EngineClass& cls);

// point_joins.cpp
void def_batch_knn_join(EngineClass& cls);
void def_batch_within_distance(EngineClass& cls);  // distance_joins.cpp
void def_batch_within(EngineClass& cls);
void def_batch_contains(EngineClass& cls);            // containment_joins.cpp
void def_batch_contains_aggregate(EngineClass& cls);  // containment_joins.cpp

// polygon_distance_joins.cpp
void def_batch_within_distance_to_polygons(EngineClass& cls);
void def_batch_within_distance_to_polygons_aggregate(EngineClass& cls);
void def_points_within_distance_of_polygon(EngineClass& cls);

// polygon_joins.cpp
void def_batch_knn_to_polygons(EngineClass& cls);  // polygon_knn.cpp
void def_batch_knn_to_polygons_sorted(EngineClass& cls);  // polygon_knn.cpp
void def_polygon_intersects_self_join(EngineClass& cls);  // polygon_self_join.cpp

// polygon_measures.cpp
void def_polygon_areas(EngineClass& cls);
void def_polygon_pairs_intersection_area(EngineClass& cls);
void def_convex_hull_area_of(EngineClass& cls);
void def_group_convex_hull_areas(EngineClass& cls);

// measures.cpp
void def_euclidean_distance(EngineClass& cls);
void def_haversine_distance(EngineClass& cls);
void def_euclidean_distance_to(EngineClass& cls);
void def_haversine_distance_to(EngineClass& cls);

// metrics.cpp
void def_take_metrics(EngineClass& cls);

// views.cpp
void def_xs(EngineClass& cls);
void def_ys(EngineClass& cls);

// builders.cpp: the two builder classes, registered in the module after Engine
void bind_point_builder(nb::module_& m);
void bind_polygon_builder(nb::module_& m);

}  // namespace vardelin::lib
