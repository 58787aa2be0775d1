#include "lib/engine_methods.hpp"

#include "engine/point_joins.hpp"

namespace vardelin::lib {

void def_batch_knn_join(EngineClass& cls) {
    cls.def(
        "batch_knn_join",
        [](PyEngine& self, const InArray<double>& query_xs, const InArray<double>& query_ys, nb::handle k,
           nb::handle total_q_count) {
            auto e = self.exclusive();
            const u64 count = to_u64(k, "k");
            const std::optional<u64> total = to_optional_u64(total_q_count, "total_q_count");
            const PointSpans queries = join_query(query_xs, query_ys);
            return hand_over(batch_knn_join(*e, queries, count, total, without_gil));
        },
        nb::arg("query_xs").noconvert(), nb::arg("query_ys").noconvert(), nb::arg("k").none(),
        nb::arg("total_q_count").none() = nb::none(),
        "For each query point, return its k nearest neighbours in the Engine's dataset,\nnearest-first.",
        nb::sig("def batch_knn_join(self, " VARDELIN_QUERY_ARRAYS ", k: int, total_q_count: int | None = None) -> "
                VARDELIN_RESULT(uint32)));
}

void def_batch_within_distance(EngineClass& cls) {
    cls.def(
        "batch_within_distance",
        [](PyEngine& self, const InArray<double>& query_xs, const InArray<double>& query_ys, nb::handle distance,
           bool flipped, nb::handle total_q_count) {
            auto e = self.exclusive();
            const double d = to_f64(distance, "distance");
            const std::optional<u64> total = to_optional_u64(total_q_count, "total_q_count");
            // The dataset kind comes before the query arrays here.
            require_dataset(*e, DatasetKind::Points, Operation::BatchWithinDistance);
            const PointSpans queries = join_query(query_xs, query_ys);
            return hand_over(batch_within_distance(*e, queries, d, flipped, total, without_gil));
        },
        nb::arg("query_xs").noconvert(), nb::arg("query_ys").noconvert(), nb::arg("distance").none(),
        nb::arg("flipped"), nb::arg("total_q_count") = nb::none(),
        "For each query point, return (query_idx, engine_idx) pairs for every engine point\n"
        "within `distance` (Euclidean). Point datasets only.\n\n"
        "`flipped` indexes the query side and iterates engine points instead. Same results\n"
        "and cheaper when len(query) >> engine.n.",
        nb::sig("def batch_within_distance(self, " VARDELIN_QUERY_ARRAYS
                ", distance: float, flipped: bool, total_q_count: int | None = None) -> " VARDELIN_RESULT(uint32)));
}

void def_batch_within(EngineClass& cls) {
    cls.def(
        "batch_within",
        [](PyEngine& self, const InArray<double>& query_xs, const InArray<double>& query_ys, nb::handle min_x,
           nb::handle min_y, nb::handle max_x, nb::handle max_y) {
            auto e = self.shared();
            const double x0 = to_f64(min_x, "min_x"), y0 = to_f64(min_y, "min_y");
            const double x1 = to_f64(max_x, "max_x"), y1 = to_f64(max_y, "max_y");
            // No row limit: the positions it returns are 64-bit.
            const PointSpans queries = point_arrays(query_xs, query_ys, "query_xs", "query_ys");
            return to_numpy(batch_within(queries, Box{x0, y0, x1, y1}, without_gil));
        },
        nb::arg("query_xs").noconvert(), nb::arg("query_ys").noconvert(), nb::arg("min_x").none(),
        nb::arg("min_y").none(), nb::arg("max_x").none(), nb::arg("max_y").none(),
        "Return the query-array positions of the points within the bounding box in order",
        nb::sig("def batch_within(self, " VARDELIN_QUERY_ARRAYS
                ", min_x: float, min_y: float, max_x: float, max_y: float) -> " VARDELIN_RESULT(uint64)));
}

}  // namespace vardelin::lib
