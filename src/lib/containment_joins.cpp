#include "lib/engine_methods.hpp"

#include "engine/containment_joins.hpp"

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

}  // namespace vardelin::lib
