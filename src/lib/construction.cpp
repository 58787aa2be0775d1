#include "lib/engine_methods.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>

#include "engine/construction.hpp"

namespace vardelin::lib {

void def_from_points(EngineClass& cls) {
    cls.def_static(
        "from_points",
        [](const InArray<double>& xs, const InArray<double>& ys) {
            return wrap_engine(engine_from_points(point_arrays(xs, ys)));
        },
        nb::arg("xs").noconvert(), nb::arg("ys").noconvert(),
        "Construct from contiguous float64 numpy arrays of x and y coordinates.\n"
        "The coordinates are copied once into one shared array that every later index build shares.",
        nb::sig("def from_points(xs: " VARDELIN_ARRAY(float64) ", ys: " VARDELIN_ARRAY(float64) ") -> Engine"));
}

void def_from_polygon_rings(EngineClass& cls) {
    cls.def_static(
        "from_polygon_rings",
        [](const InArray<double>& xs, const InArray<double>& ys, const InArray<i64>& ring_offsets,
           const InArray<i64>& poly_offsets, const std::optional<InArray<i64>>& part_poly) {
            const RingArrays a = ring_arrays(xs, ys, ring_offsets, poly_offsets, part_poly, kConstructorOffsets);
            return wrap_engine(engine_from_polygon_rings(a.xs, a.ys, a.ring_offsets, a.poly_offsets, a.part_map()));
        },
        nb::arg("xs").noconvert(), nb::arg("ys").noconvert(), nb::arg("ring_offsets").noconvert(),
        nb::arg("poly_offsets").noconvert(), nb::arg("part_poly").noconvert() = nb::none(),
        "Construct from two-level polygon ring arrays (supports holes and MultiPolygons).\n"
        "\n"
        "ring_offsets and poly_offsets use the layout documented on the struct fields.\n"
        "part_poly maps each part to its logical polygon (None means one part per polygon).\n"
        "Each NumPy buffer is copied once into a shared array.",
        nb::sig("def from_polygon_rings(xs: " VARDELIN_ARRAY(float64) ", ys: " VARDELIN_ARRAY(float64)
                ", ring_offsets: " VARDELIN_ARRAY(int64) ", poly_offsets: " VARDELIN_ARRAY(int64) ", part_poly: "
                VARDELIN_ARRAY(int64) " | None = None) -> Engine"));
}

void def_from_wkb_polygons(EngineClass& cls) {
    cls.def_static(
        "from_wkb_polygons",
        [](const InArray<std::uint8_t>& data, const InArray<i64>& offsets) {
            const auto d = contiguous(data, "data must be a contiguous uint8 array");
            const auto o = contiguous(offsets, "offsets must be a contiguous int64 array");
            return wrap_engine(engine_from_wkb_polygons(d, o));
        },
        nb::arg("data").noconvert(), nb::arg("offsets").noconvert(),
        "Construct a polygon Engine directly from a WKB column, with no shapely roundtrip.\n"
        "\n"
        "Geometry i is data[offsets[i]..offsets[i+1]]. Decodes Polygon / MultiPolygon in one\n"
        "pass. Raises for any other WKB variant so the caller can fall back to shapely.",
        nb::sig("def from_wkb_polygons(data: " VARDELIN_ARRAY(uint8) ", offsets: " VARDELIN_ARRAY(int64)
                ") -> Engine"));
}

void def_from_wkb_polygon_views(EngineClass& cls) {
    cls.def_static(
        "from_wkb_polygon_views",
        [](const InArray<std::uint8_t>& views, nb::handle buffers) {
            const std::vector<InArray<std::uint8_t>> arrays = to_byte_arrays(buffers, "buffers");
            const auto v = contiguous(views, "views must be a contiguous uint8 array");
            std::vector<std::span<const std::uint8_t>> bufs;
            bufs.reserve(arrays.size());
            for (const auto& a : arrays) bufs.push_back(contiguous(a, "each buffer must be a contiguous uint8 array"));
            return wrap_engine(engine_from_wkb_polygon_views(v, bufs));
        },
        nb::arg("views").noconvert(), nb::arg("buffers").none(),
        "Construct from Arrow BinaryView descriptors and the buffers they name without copying",
        nb::sig("def from_wkb_polygon_views(views: " VARDELIN_ARRAY(uint8) ", buffers: "
                VARDELIN_SEQUENCE(VARDELIN_ARRAY(uint8)) ") -> Engine"));
}

void def_subset(EngineClass& cls) {
    cls.def(
        "subset",
        [](PyEngine& self, const InArray<u32>& indices) {
            const auto e = self.shared();
            const auto idx = contiguous(indices, "indices must be a contiguous uint32 array");
            return wrap_engine(subset(*e, idx));
        },
        nb::arg("indices").noconvert(),
        "Copy selected logical polygons into a compact Engine with no inherited indexes",
        nb::sig("def subset(self, indices: " VARDELIN_ARRAY(uint32) ") -> Engine"));
}

void def_n(EngineClass& cls) {
    cls.def(
        "n", [](PyEngine& self) { return self.shared()->stats.n; }, "Number of geometries in the dataset");
}

void def_extent(EngineClass& cls) {
    cls.def(
        "extent",
        [](PyEngine& self) -> std::optional<std::tuple<double, double, double, double>> {
            const auto e = self.shared();
            if (!e->stats.extent) return std::nullopt;
            const Box& b = *e->stats.extent;
            return std::make_tuple(b.min_x, b.min_y, b.max_x, b.max_y);
        },
        "Bounding extent of the dataset as (min_x, min_y, max_x, max_y), or None if empty");
}

void def_repr(EngineClass& cls) {
    cls.def("__repr__", [](PyEngine& self) {
        const auto e = self.shared();
        return "Engine(n=" + std::to_string(e->stats.n) + ", kind=" + name_of(e->stats.kind) +
               ", dist=" + name_of(e->stats.distribution) + ")";
    });
}

}  // namespace vardelin::lib
