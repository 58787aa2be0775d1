#include <nanobind/stl/tuple.h>

#include "engine/polygon_knn.hpp"
#include "lib/engine_methods.hpp"

namespace vardelin::lib {

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

}  // namespace vardelin::lib
