#include "engine/polygon_measures.hpp"

#include "lib/engine_methods.hpp"

namespace vardelin::lib {

void def_polygon_areas(EngineClass& cls) {
    cls.def(
        "polygon_areas",
        [](PyEngine& self) {
            const auto e = self.shared();
            return to_numpy(polygon_areas(*e, without_gil));
        },
        "Unsigned area of every Engine polygon, in dataset order. Polygon datasets only.\n"
        "A MultiPolygon's area is the sum of its parts.");
}

void def_polygon_pairs_intersection_area(EngineClass& cls) {
    cls.def(
        "polygon_pairs_intersection_area",
        [](PyEngine& self, const InArray<u32>& i_idx, const InArray<u32>& j_idx) {
            const auto e = self.shared();
            // Contiguity is judged where the core's checks reach it: after the dataset kind.
            const auto is = deferred_contiguous(i_idx, "i_idx must be a contiguous uint32 array");
            const auto js = deferred_contiguous(j_idx, "j_idx must be a contiguous uint32 array");
            return to_numpy(polygon_pairs_intersection_area(*e, is, js, without_gil));
        },
        nb::arg("i_idx").noconvert(), nb::arg("j_idx").noconvert(),
        "Unsigned intersection area for each (i, j) pair of Engine polygons.\n"
        "`i_idx` and `j_idx` must have equal length. Polygon datasets only.");
}

void def_convex_hull_area_of(EngineClass& cls) {
    cls.def_static(
        "convex_hull_area_of",
        [](const InArray<double>& xs, const InArray<double>& ys) {
            const auto x = contiguous(xs, "xs must be a contiguous float64 array");
            const auto y = contiguous(ys, "ys must be a contiguous float64 array");
            return convex_hull_area_of(x, y);
        },
        nb::arg("xs").noconvert(), nb::arg("ys").noconvert(),
        "Area of the convex hull of a standalone set of points. Used for grouped\n"
        "aggregations where the points are not part of any Engine dataset.");
}

void def_group_convex_hull_areas(EngineClass& cls) {
    cls.def_static(
        "group_convex_hull_areas",
        [](const InArray<double>& xs, const InArray<double>& ys, const InArray<i64>& offsets) {
            const auto x = contiguous(xs, "xs must be a contiguous float64 array");
            const auto y = contiguous(ys, "ys must be a contiguous float64 array");
            const auto o = contiguous(offsets, "offsets must be a contiguous int64 array");
            return to_numpy(group_convex_hull_areas(x, y, o, without_gil));
        },
        nb::arg("xs").noconvert(), nb::arg("ys").noconvert(), nb::arg("offsets").noconvert(),
        "Convex hull area for each group defined by CSR offsets over flat xs/ys arrays");
}

}  // namespace vardelin::lib
