#include "lib/engine_methods.hpp"

#include "engine/single_queries.hpp"

namespace vardelin::lib {

void def_knn(EngineClass& cls) {
    cls.def(
        "knn",
        [](PyEngine& self, nb::handle x, nb::handle y, nb::handle k) {
            auto e = self.exclusive();
            const double qx = to_f64(x, "x"), qy = to_f64(y, "y");
            const u64 count = to_u64(k, "k");
            return to_int_list(settle(knn(*e, qx, qy, count)), [](const Neighbor& n) { return n.id; });
        },
        nb::arg("x").none(), nb::arg("y").none(), nb::arg("k").none(),
        "Return the k dataset indices nearest to (x, y), sorted nearest-first",
        nb::sig("def knn(self, x: float, y: float, k: int) -> list[int]"));
}

void def_range_query(EngineClass& cls) {
    cls.def(
        "range_query",
        [](PyEngine& self, nb::handle min_x, nb::handle min_y, nb::handle max_x, nb::handle max_y) {
            auto e = self.exclusive();
            const double x0 = to_f64(min_x, "min_x"), y0 = to_f64(min_y, "min_y");
            const double x1 = to_f64(max_x, "max_x"), y1 = to_f64(max_y, "max_y");
            return to_int_list(settle(range_query(*e, x0, y0, x1, y1)));
        },
        nb::arg("min_x").none(), nb::arg("min_y").none(), nb::arg("max_x").none(), nb::arg("max_y").none(),
        "Dataset indices whose bounding boxes overlap [min_x, max_x] × [min_y, max_y]",
        nb::sig("def range_query(self, min_x: float, min_y: float, max_x: float, max_y: float) -> list[int]"));
}

void def_radius_query(EngineClass& cls) {
    cls.def(
        "radius_query",
        [](PyEngine& self, nb::handle cx, nb::handle cy, nb::handle distance) {
            auto e = self.exclusive();
            const double x = to_f64(cx, "cx"), y = to_f64(cy, "cy"), d = to_f64(distance, "distance");
            return hand_over(radius_query(*e, x, y, d));
        },
        nb::arg("cx").none(), nb::arg("cy").none(), nb::arg("distance").none(),
        "Engine point indices within `distance` (Euclidean) of the center (cx, cy)",
        nb::sig("def radius_query(self, cx: float, cy: float, distance: float) -> " VARDELIN_RESULT(uint64) ));
}

void def_contains_query(EngineClass& cls) {
    cls.def(
        "contains_query",
        [](PyEngine& self, nb::handle x, nb::handle y) {
            auto e = self.exclusive();
            const double qx = to_f64(x, "x"), qy = to_f64(y, "y");
            return to_int_list(settle(contains_query(*e, qx, qy)));
        },
        nb::arg("x").none(), nb::arg("y").none(), "Dataset polygon indices that contain the point (x, y)",
        nb::sig("def contains_query(self, x: float, y: float) -> list[int]"));
}

}  // namespace vardelin::lib
