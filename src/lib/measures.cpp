#include "lib/engine_methods.hpp"

#include <array>
#include <string>

#include "engine/measures.hpp"
#include "query/distances.hpp"

namespace vardelin::lib {

namespace {

// The four arrays of a pairwise distance: contiguity argument by argument in order, then one
// length check over all of them.
std::array<std::span<const double>, 4> pairwise_inputs(std::array<const InArray<double>*, 4> arrays,
                                                       std::array<const char*, 4> names) {
    std::array<std::span<const double>, 4> spans;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string message = std::string(names[i]) + " must be a contiguous float64 array";
        spans[i] = contiguous(*arrays[i], message.c_str());
    }
    for (std::size_t i = 1; i < 4; ++i) {
        require_same_length(spans[0].size(), spans[i].size(), "all coordinate arrays must have the same length");
    }
    return spans;
}

}  // namespace

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

void def_euclidean_distance(EngineClass& cls) {
    cls.def_static(
        "euclidean_distance",
        [](const InArray<double>& xs1, const InArray<double>& ys1, const InArray<double>& xs2,
           const InArray<double>& ys2) {
            const auto [x1, y1, x2, y2] =
                pairwise_inputs({&xs1, &ys1, &xs2, &ys2}, {"xs1", "ys1", "xs2", "ys2"});
            return to_numpy(euclidean_distance(x1, y1, x2, y2));
        },
        nb::arg("xs1").noconvert(), nb::arg("ys1").noconvert(), nb::arg("xs2").noconvert(),
        nb::arg("ys2").noconvert(), "Euclidean distance between two point sets given as four flat coordinate arrays");
}

void def_haversine_distance(EngineClass& cls) {
    cls.def_static(
        "haversine_distance",
        [](const InArray<double>& lons1, const InArray<double>& lats1, const InArray<double>& lons2,
           const InArray<double>& lats2) {
            const auto [lo1, la1, lo2, la2] =
                pairwise_inputs({&lons1, &lats1, &lons2, &lats2}, {"lons1", "lats1", "lons2", "lats2"});
            return to_numpy(haversine_distance(lo1, la1, lo2, la2));
        },
        nb::arg("lons1").noconvert(), nb::arg("lats1").noconvert(), nb::arg("lons2").noconvert(),
        nb::arg("lats2").noconvert(),
        "Haversine great-circle distance in meters between two lon/lat point sets, four flat arrays");
}

void def_euclidean_distance_to(EngineClass& cls) {
    cls.def_static(
        "euclidean_distance_to",
        [](const InArray<double>& xs, const InArray<double>& ys, double cx, double cy) {
            const PointSpans points = point_arrays(xs, ys);
            return to_numpy(euclidean_distance_to(points.xs(), points.ys(), cx, cy));
        },
        nb::arg("xs").noconvert(), nb::arg("ys").noconvert(), nb::arg("cx"), nb::arg("cy"),
        "Euclidean distance in coordinate units from each point to a fixed center");
}

void def_haversine_distance_to(EngineClass& cls) {
    cls.def_static(
        "haversine_distance_to",
        [](const InArray<double>& lons, const InArray<double>& lats, double cx, double cy) {
            const auto lo = contiguous(lons, "lons must be a contiguous float64 array");
            const auto la = contiguous(lats, "lats must be a contiguous float64 array");
            require_same_length(lo.size(), la.size(), "longitudes and latitudes must have the same length");
            return to_numpy(haversine_distance_to(lo, la, cx, cy));
        },
        nb::arg("lons").noconvert(), nb::arg("lats").noconvert(), nb::arg("cx"), nb::arg("cy"),
        "Haversine distance in meters from each lon/lat point to a fixed center");
}

}  // namespace vardelin::lib
