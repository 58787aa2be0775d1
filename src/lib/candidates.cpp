#include "lib/engine_methods.hpp"

#include <nanobind/stl/vector.h>

#include "engine/candidates.hpp"
#include "query/hits.hpp"

namespace vardelin::lib {

namespace {

constexpr const char* kCandidatesMessage = "candidates must be a contiguous uint32 array";

}  // namespace

void def_intersect_ranges(EngineClass& cls) {
    cls.def(
        "intersect_ranges",
        [](PyEngine& self, nb::handle queries) {
            // Exclusive: every range query records metrics and may merge the delta buffer.
            auto e = self.exclusive();
            const auto boxes = to_float_tuples<4>(queries, "queries");
            return to_int_list(intersect_ranges(*e, boxes));
        },
        nb::arg("queries").none(),
        "Intersect multiple bbox queries via two-pointer sorted merge on the hit arrays.\n"
        "O(K * |H|) over K predicates and per-predicate hit count |H| rather than O(K * N)\n"
        "bitmap ANDs. Short-circuits once the running intersection is empty.",
        nb::sig("def intersect_ranges(self, queries: " VARDELIN_SEQUENCE("tuple[float, float, float, float]")
                ") -> list[int]"));
}

void def_intersect_hits(EngineClass& cls) {
    cls.def(
        "intersect_hits",
        [](PyEngine& self, nb::handle lists) {
            // Nothing of the dataset is read, but the call still honours the borrow flag.
            const auto borrow = self.shared();
            return intersect_hits(to_u64_lists(lists, "lists"));
        },
        nb::arg("lists").none(), "Intersect heterogeneous hit lists via iterative two-pointer sorted merge",
        nb::sig("def intersect_hits(self, lists: " VARDELIN_SEQUENCE(VARDELIN_SEQUENCE("int")) ") -> list[int]"));
}

void def_knn_from_candidates(EngineClass& cls) {
    cls.def(
        "knn_from_candidates",
        [](PyEngine& self, nb::handle x, nb::handle y, nb::handle k, const InArray<u32>& survivor_indices) {
            const auto e = self.shared();
            const double qx = to_f64(x, "x"), qy = to_f64(y, "y");
            const u64 count = to_u64(k, "k");
            const auto c = contiguous(survivor_indices, "survivor_indices must be a contiguous uint32 array");
            return to_int_list(knn_from_candidates(*e, qx, qy, count, c));
        },
        nb::arg("x").none(), nb::arg("y").none(), nb::arg("k").none(), nb::arg("survivor_indices").noconvert(),
        "kNN restricted to a candidate subset. survivor_indices holds M uint32 row positions\n"
        "in the full dataset. Squared distance to each survivor then a partial sort for the\n"
        "top k. O(M + k log k) and exact with no index traversal.",
        nb::sig("def knn_from_candidates(self, x: float, y: float, k: int, survivor_indices: " VARDELIN_ARRAY(uint32)
                ") -> list[int]"));
}

void def_range_mask(EngineClass& cls) {
    cls.def(
        "range_mask",
        [](PyEngine& self, nb::handle min_x, nb::handle min_y, nb::handle max_x, nb::handle max_y,
           const InArray<u32>& candidates) {
            auto e = self.exclusive();
            const double x0 = to_f64(min_x, "min_x"), y0 = to_f64(min_y, "min_y");
            const double x1 = to_f64(max_x, "max_x"), y1 = to_f64(max_y, "max_y");
            const auto c = contiguous(candidates, kCandidatesMessage);
            return to_numpy<bool>(range_mask(*e, x0, y0, x1, y1, c));
        },
        nb::arg("min_x").none(), nb::arg("min_y").none(), nb::arg("max_x").none(), nb::arg("max_y").none(),
        nb::arg("candidates").noconvert(),
        "Boolean mask over candidates for a bounding-box filter, computed natively",
        nb::sig("def range_mask(self, min_x: float, min_y: float, max_x: float, max_y: float, candidates: "
                VARDELIN_ARRAY(uint32) ") -> " VARDELIN_RESULT(bool)));
}

void def_contains_mask(EngineClass& cls) {
    cls.def(
        "contains_mask",
        [](PyEngine& self, nb::handle x, nb::handle y, const InArray<u32>& candidates) {
            auto e = self.exclusive();
            const double qx = to_f64(x, "x"), qy = to_f64(y, "y");
            const auto c = contiguous(candidates, kCandidatesMessage);
            return to_numpy<bool>(contains_mask(*e, qx, qy, c));
        },
        nb::arg("x").none(), nb::arg("y").none(), nb::arg("candidates").noconvert(),
        "Boolean mask over candidates for a point-in-polygon filter, computed natively",
        nb::sig("def contains_mask(self, x: float, y: float, candidates: " VARDELIN_ARRAY(uint32) ") -> "
                VARDELIN_RESULT(bool)));
}

void def_fused_mask(EngineClass& cls) {
    cls.def(
        "fused_mask",
        [](PyEngine& self, nb::handle range_queries, nb::handle contains_points, const InArray<u32>& candidates) {
            auto e = self.exclusive();
            const auto boxes = to_float_tuples<4>(range_queries, "range_queries");
            const auto points = to_float_tuples<2>(contains_points, "contains_points");
            const auto c = contiguous(candidates, kCandidatesMessage);
            return to_numpy<bool>(fused_mask(*e, boxes, points, c));
        },
        nb::arg("range_queries").none(), nb::arg("contains_points").none(),
        nb::arg("candidates").noconvert(),
        "Boolean mask over candidates for fused range and contains predicates, intersected natively",
        nb::sig("def fused_mask(self, range_queries: " VARDELIN_SEQUENCE("tuple[float, float, float, float]")
                ", contains_points: " VARDELIN_SEQUENCE("tuple[float, float]") ", candidates: " VARDELIN_ARRAY(uint32)
                ") -> " VARDELIN_RESULT(bool)));
}

void def_knn_mask_from_candidates(EngineClass& cls) {
    cls.def(
        "knn_mask_from_candidates",
        [](PyEngine& self, nb::handle x, nb::handle y, nb::handle k, const InArray<u32>& candidates) {
            const auto e = self.shared();
            const double qx = to_f64(x, "x"), qy = to_f64(y, "y");
            const u64 count = to_u64(k, "k");
            const auto c = contiguous(candidates, kCandidatesMessage);
            return to_numpy<bool>(knn_mask_from_candidates(*e, qx, qy, count, c));
        },
        nb::arg("x").none(), nb::arg("y").none(), nb::arg("k").none(), nb::arg("candidates").noconvert(),
        "Boolean mask over candidates for the k nearest among them, computed natively",
        nb::sig("def knn_mask_from_candidates(self, x: float, y: float, k: int, candidates: " VARDELIN_ARRAY(uint32)
                ") -> " VARDELIN_RESULT(bool)));
}

}  // namespace vardelin::lib
