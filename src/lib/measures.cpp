#include "lib/engine_methods.hpp"

#include <array>
#include <string>

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
