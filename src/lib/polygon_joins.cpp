#include "lib/engine_methods.hpp"

#include <nanobind/stl/tuple.h>

#include "engine/polygon_joins.hpp"

namespace vardelin::lib {

void def_batch_contains(EngineClass& cls) {
    cls.def(
        "batch_contains",
        [](PyEngine& self, const InArray<double>& query_xs, const InArray<double>& query_ys,
           nb::handle total_q_count) {
            auto e = self.exclusive();
            const std::optional<u64> total = to_optional_u64(total_q_count, "total_q_count");
            const PointSpans queries = join_query(query_xs, query_ys);
            return hand_over(batch_contains(*e, queries, total, without_gil));
        },
        nb::arg("query_xs").noconvert(), nb::arg("query_ys").noconvert(), nb::arg("total_q_count").none() = nb::none(),
        "For each query point, return (query_idx, engine_idx) pairs for every polygon that\n"
        "contains it. Polygon dataset only.",
        nb::sig("def batch_contains(self, " VARDELIN_QUERY_ARRAYS ", total_q_count: int | None = None) -> "
                VARDELIN_RESULT(uint32)));
}

void def_batch_contains_aggregate(EngineClass& cls) {
    cls.def(
        "batch_contains_aggregate",
        [](PyEngine& self, const InArray<double>& query_xs, const InArray<double>& query_ys,
           nb::handle value_columns, nb::handle validity_columns) {
            auto e = self.exclusive();
            const auto values = to_float_arrays(value_columns, "value_columns");
            const auto validity = to_byte_arrays(validity_columns, "validity_columns");
            const PointSpans queries = join_query(query_xs, query_ys);
            const AggColumns columns = aggregate_columns(values, validity, queries.size());
            return hand_over_aggregate(batch_contains_aggregate(*e, queries, columns, without_gil));
        },
        nb::arg("query_xs").noconvert(), nb::arg("query_ys").noconvert(), nb::arg("value_columns").none(),
        nb::arg("validity_columns").none(),
        "Aggregate a point-in-polygon join directly into per-polygon count/sum state.\n"
        "Value and validity arrays are parallel columns aligned with the query coordinates.",
        nb::sig("def batch_contains_aggregate(self, " VARDELIN_QUERY_ARRAYS ", " VARDELIN_AGGREGATE_COLUMNS ") -> "
                VARDELIN_AGGREGATE_RESULT));
}

void def_batch_within_distance_to_polygons(EngineClass& cls) {
    cls.def(
        "batch_within_distance_to_polygons",
        [](PyEngine& self, const InArray<double>& query_xs, const InArray<double>& query_ys, nb::handle distance,
           nb::handle total_q_count) {
            auto e = self.exclusive();
            const double d = to_f64(distance, "distance");
            const std::optional<u64> total = to_optional_u64(total_q_count, "total_q_count");
            const PointSpans queries = join_query(query_xs, query_ys);
            return hand_over(batch_within_distance_to_polygons(*e, queries, d, total, without_gil));
        },
        nb::arg("query_xs").noconvert(), nb::arg("query_ys").noconvert(), nb::arg("distance").none(),
        nb::arg("total_q_count").none() = nb::none(),
        "For each query point, return (query_idx, polygon_idx) pairs for every Engine\n"
        "polygon within `distance` of it. Engine must be a polygon dataset.\n"
        "\n"
        "Returns a flat u32 array interleaved [q0, e0, q1, e1, ...] for reshaping to (-1, 2).",
        nb::sig("def batch_within_distance_to_polygons(self, " VARDELIN_QUERY_ARRAYS
                ", distance: float, total_q_count: int | None = None) -> " VARDELIN_RESULT(uint32)));
}

void def_batch_within_distance_to_polygons_aggregate(EngineClass& cls) {
    cls.def(
        "batch_within_distance_to_polygons_aggregate",
        [](PyEngine& self, const InArray<double>& query_xs, const InArray<double>& query_ys, nb::handle distance,
           nb::handle value_columns, nb::handle validity_columns) {
            auto e = self.exclusive();
            const double d = to_f64(distance, "distance");
            const auto values = to_float_arrays(value_columns, "value_columns");
            const auto validity = to_byte_arrays(validity_columns, "validity_columns");
            const PointSpans queries = join_query(query_xs, query_ys);
            const AggColumns columns = aggregate_columns(values, validity, queries.size());
            return hand_over_aggregate(batch_within_distance_to_polygons_aggregate(*e, queries, d, columns, without_gil));
        },
        nb::arg("query_xs").noconvert(), nb::arg("query_ys").noconvert(), nb::arg("distance").none(),
        nb::arg("value_columns").none(), nb::arg("validity_columns").none(),
        "Aggregate a point-to-polygon distance join directly into per-polygon state",
        nb::sig("def batch_within_distance_to_polygons_aggregate(self, " VARDELIN_QUERY_ARRAYS ", distance: float, "
                VARDELIN_AGGREGATE_COLUMNS ") -> " VARDELIN_AGGREGATE_RESULT));
}

void def_batch_knn_to_polygons(EngineClass& cls) {
    cls.def(
        "batch_knn_to_polygons",
        [](PyEngine& self, const InArray<double>& query_xs, const InArray<double>& query_ys, nb::handle k,
           nb::handle total_q_count) {
            auto e = self.exclusive();
            const u64 count = to_u64(k, "k");
            const std::optional<u64> total = to_optional_u64(total_q_count, "total_q_count");
            const PointSpans queries = join_query(query_xs, query_ys);
            return hand_over(batch_knn_to_polygons(*e, queries, count, total, without_gil), [](PolygonKnnBlocks&& r) {
                return nb::make_tuple(to_numpy(std::move(r.ids)), to_numpy(std::move(r.distances)));
            });
        },
        nb::arg("query_xs").noconvert(), nb::arg("query_ys").noconvert(), nb::arg("k").none(),
        nb::arg("total_q_count") = nb::none(),
        "For each query point, return the k nearest Engine polygons by exact\n"
        "point-to-polygon distance. Engine must be a polygon dataset.\n\n"
        "Returns (engine_indices, distances), each a flat array of shape (n_queries * k,)\n"
        "in per-query blocks. Padding slots (fewer than k candidates) use u32::MAX and inf.",
        nb::sig("def batch_knn_to_polygons(self, " VARDELIN_QUERY_ARRAYS
                ", k: int, total_q_count: int | None = None) -> tuple[" VARDELIN_RESULT(uint32) ", "
                VARDELIN_RESULT(float64) "]"));
}

void def_batch_knn_to_polygons_sorted(EngineClass& cls) {
    cls.def(
        "batch_knn_to_polygons_sorted",
        [](PyEngine& self, const InArray<double>& query_xs, const InArray<double>& query_ys, nb::handle k) {
            auto e = self.exclusive();
            const u64 count = to_u64(k, "k");
            const PointSpans queries = join_query(query_xs, query_ys);
            return hand_over(batch_knn_to_polygons_sorted(*e, queries, count, without_gil), [](PolygonKnnSorted&& r) {
                return nb::make_tuple(to_numpy(std::move(r.queries)), to_numpy(std::move(r.targets)),
                                      to_numpy(std::move(r.distances)));
            });
        },
        nb::arg("query_xs").noconvert(), nb::arg("query_ys").noconvert(), nb::arg("k").none(),
        "Like `batch_knn_to_polygons` but returns all valid pairs globally sorted by\n"
        "(distance ASC, target_idx ASC). No per-query blocks, no padding slots.\n\n"
        "Returns `(query_indices, target_indices, distances)` as three flat arrays. The sort\n"
        "runs inside the module on its worker pool, so the caller needs no external sort.\n"
        "Engine must be a polygon dataset.",
        nb::sig("def batch_knn_to_polygons_sorted(self, " VARDELIN_QUERY_ARRAYS ", k: int) -> tuple["
                VARDELIN_RESULT(uint32) ", " VARDELIN_RESULT(uint32) ", " VARDELIN_RESULT(float64) "]"));
}

void def_polygon_intersects_self_join(EngineClass& cls) {
    cls.def(
        "polygon_intersects_self_join",
        [](PyEngine& self) {
            auto e = self.exclusive();
            return hand_over(polygon_intersects_self_join(*e, without_gil));
        },
        "Self-join: unordered pairs (i, j) with i < j of Engine polygons that intersect.\n"
        "Engine must be a polygon dataset.\n"
        "\n"
        "Returns a flat u32 array interleaved [i0, j0, i1, j1, ...] for reshaping to (-1, 2).",
        nb::sig("def polygon_intersects_self_join(self) -> " VARDELIN_RESULT(uint32) ));
}

void def_points_within_distance_of_polygon(EngineClass& cls) {
    cls.def(
        "points_within_distance_of_polygon",
        [](PyEngine& self, const InArray<double>& poly_xs, const InArray<double>& poly_ys,
           const InArray<i64>& poly_ring_offsets, const InArray<i64>& poly_offsets, nb::handle distance) {
            auto e = self.exclusive();
            const double d = to_f64(distance, "distance");
            // The dataset kind is checked before the arrays' contiguity, so the core judges it.
            const QueryPolygonArrays polygon{
                deferred_contiguous(poly_xs, "poly_xs must be a contiguous float64 array"),
                deferred_contiguous(poly_ys, "poly_ys must be a contiguous float64 array"),
                deferred_contiguous(poly_ring_offsets, "poly_ring_offsets must be contiguous int64"),
                deferred_contiguous(poly_offsets, "poly_offsets must be contiguous int64")};
            return hand_over(points_within_distance_of_polygon(*e, polygon, d, without_gil));
        },
        nb::arg("poly_xs").noconvert(), nb::arg("poly_ys").noconvert(), nb::arg("poly_ring_offsets").noconvert(),
        nb::arg("poly_offsets").noconvert(), nb::arg("distance").none(),
        "Indices of Engine points within `distance` of a query polygon, which may be a\n"
        "MultiPolygon. The query is given as its own ring arrays (exterior first, then\n"
        "holes per part) plus poly_offsets grouping rings into parts. Point datasets only.",
        nb::sig("def points_within_distance_of_polygon(self, poly_xs: " VARDELIN_ARRAY(float64) ", poly_ys: "
                VARDELIN_ARRAY(float64) ", poly_ring_offsets: " VARDELIN_ARRAY(int64) ", poly_offsets: "
                VARDELIN_ARRAY(int64) ", distance: float) -> " VARDELIN_RESULT(uint64)));
}

}  // namespace vardelin::lib
