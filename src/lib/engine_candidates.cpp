#include <nanobind/stl/vector.h>

#include "engine/candidates.hpp"
#include "lib/convert.hpp"
#include "lib/py_engine.hpp"

namespace vardelin::lib {

void bind_engine_candidates(EngineClass& cls) {
    cls.def(
        "knn_from_candidates",
        [](PyEngine& self, double x, double y, nb::handle k, const InArray<u32>& survivor_indices) {
            const auto e = self.shared();
            const u64 count = to_u64(k, "k");
            const auto c = contiguous(survivor_indices, "survivor_indices must be a contiguous uint32 array");
            return knn_from_candidates(*e, x, y, count, c);
        },
        nb::arg("x"), nb::arg("y"), nb::arg("k"), nb::arg("survivor_indices").noconvert(),
        "kNN restricted to a candidate subset. survivor_indices holds M uint32 row positions\n"
        "in the full dataset. Squared distance to each survivor then a partial sort for the\n"
        "top k. O(M + k log k) and exact with no index traversal.");

    cls.def(
        "knn_mask_from_candidates",
        [](PyEngine& self, double x, double y, nb::handle k, const InArray<u32>& candidates) {
            const auto e = self.shared();
            const u64 count = to_u64(k, "k");
            const auto c = contiguous(candidates, "candidates must be a contiguous uint32 array");
            return to_numpy<bool>(knn_mask_from_candidates(*e, x, y, count, c));
        },
        nb::arg("x"), nb::arg("y"), nb::arg("k"), nb::arg("candidates").noconvert(),
        "Boolean mask over candidates for the k nearest among them, computed natively");
}

}  // namespace vardelin::lib
