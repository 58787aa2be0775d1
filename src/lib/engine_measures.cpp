#include "lib/convert.hpp"
#include "lib/py_engine.hpp"
#include "query/distances.hpp"

namespace vardelin::lib {

void bind_engine_measures(EngineClass& cls) {
    cls.def_static(
        "euclidean_distance",
        [](const InArray<double>& xs1, const InArray<double>& ys1, const InArray<double>& xs2,
           const InArray<double>& ys2) {
            const auto x1 = contiguous(xs1, "xs1 must be a contiguous float64 array");
            const auto y1 = contiguous(ys1, "ys1 must be a contiguous float64 array");
            const auto x2 = contiguous(xs2, "xs2 must be a contiguous float64 array");
            const auto y2 = contiguous(ys2, "ys2 must be a contiguous float64 array");
            const char* length_message = "all coordinate arrays must have the same length";
            require_same_length(x1.size(), y1.size(), length_message);
            require_same_length(x1.size(), x2.size(), length_message);
            require_same_length(x1.size(), y2.size(), length_message);
            return to_numpy(euclidean_distance(x1, y1, x2, y2));
        },
        nb::arg("xs1").noconvert(), nb::arg("ys1").noconvert(), nb::arg("xs2").noconvert(),
        nb::arg("ys2").noconvert(), "Euclidean distance between two point sets given as four flat coordinate arrays");

    cls.def_static(
        "haversine_distance",
        [](const InArray<double>& lons1, const InArray<double>& lats1, const InArray<double>& lons2,
           const InArray<double>& lats2) {
            const auto lo1 = contiguous(lons1, "lons1 must be a contiguous float64 array");
            const auto la1 = contiguous(lats1, "lats1 must be a contiguous float64 array");
            const auto lo2 = contiguous(lons2, "lons2 must be a contiguous float64 array");
            const auto la2 = contiguous(lats2, "lats2 must be a contiguous float64 array");
            const char* length_message = "all coordinate arrays must have the same length";
            require_same_length(lo1.size(), la1.size(), length_message);
            require_same_length(lo1.size(), lo2.size(), length_message);
            require_same_length(lo1.size(), la2.size(), length_message);
            return to_numpy(haversine_distance(lo1, la1, lo2, la2));
        },
        nb::arg("lons1").noconvert(), nb::arg("lats1").noconvert(), nb::arg("lons2").noconvert(),
        nb::arg("lats2").noconvert(),
        "Haversine great-circle distance in meters between two lon/lat point sets, four flat arrays");

    cls.def_static(
        "euclidean_distance_to",
        [](const InArray<double>& xs, const InArray<double>& ys, double cx, double cy) {
            const auto x = contiguous(xs, "xs must be a contiguous float64 array");
            const auto y = contiguous(ys, "ys must be a contiguous float64 array");
            require_same_length(x.size(), y.size(), "xs and ys must have the same length");
            return to_numpy(euclidean_distance_to(x, y, cx, cy));
        },
        nb::arg("xs").noconvert(), nb::arg("ys").noconvert(), nb::arg("cx"), nb::arg("cy"),
        "Euclidean distance in coordinate units from each point to a fixed center");

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
