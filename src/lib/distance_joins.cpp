#include "engine/distance_joins.hpp"
#include "lib/engine_methods.hpp"

namespace vardelin::lib {

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

}  // namespace vardelin::lib
