#include "lib/engine_methods.hpp"

#include <cstdint>
#include <optional>

#include <nanobind/stl/optional.h>

#include "engine/builders.hpp"

namespace vardelin::lib {

using PyPointBuilder = Borrowed<PointBuilder>;

void bind_point_builder(nb::module_& m) {
    nb::class_<PyPointBuilder>(m, "_PointBuilder", nb::is_final())
        .def(nb::new_([] { return PyPointBuilder(PointBuilder{}); }))
        .def(
            "append",
            [](PyPointBuilder& self, const InArray<double>& xs, const InArray<double>& ys, nb::handle wkb_decode_ns) {
                auto b = self.exclusive();
                const u64 decode_ns = to_u64(wkb_decode_ns, "wkb_decode_ns");
                b->append(point_arrays(xs, ys), decode_ns);
            },
            nb::arg("xs").noconvert(), nb::arg("ys").noconvert(), nb::arg("wkb_decode_ns") = 0,
            nb::sig("def append(self, xs: " VARDELIN_ARRAY(float64) ", ys: " VARDELIN_ARRAY(float64)
                    ", wkb_decode_ns: int = 0) -> None"))
        .def(
            "finish", [](PyPointBuilder& self) { return wrap_engine(self.exclusive()->finish()); },
            nb::sig("def finish(self) -> Engine"));
}

using PyPolygonBuilder = Borrowed<PolygonBuilderState>;

void bind_polygon_builder(nb::module_& m) {
    nb::class_<PyPolygonBuilder> cls(m, "_PolygonBuilder", nb::is_final());
    cls.def(nb::new_([] { return PyPolygonBuilder(PolygonBuilderState{}); }));

    cls.def(
        "append_wkb",
        [](PyPolygonBuilder& self, const InArray<std::uint8_t>& data, const InArray<i64>& offsets) {
            auto state = self.exclusive();
            const auto d = contiguous(data, "data must be a contiguous uint8 array");
            const auto o = contiguous(offsets, "offsets must be a contiguous int64 array");
            append_wkb(*state, d, o);
        },
        nb::arg("data").noconvert(), nb::arg("offsets").noconvert());

    cls.def(
        "append_polygon_rings",
        [](PyPolygonBuilder& self, const InArray<double>& xs, const InArray<double>& ys,
           const InArray<i64>& ring_offsets, const InArray<i64>& poly_offsets,
           const std::optional<InArray<i64>>& part_poly) {
            auto state = self.exclusive();
            const RingArrays a = ring_arrays(xs, ys, ring_offsets, poly_offsets, part_poly, kBuilderOffsets);
            append_polygon_rings(*state, a.xs, a.ys, a.ring_offsets, a.poly_offsets, a.part_map());
        },
        nb::arg("xs").noconvert(), nb::arg("ys").noconvert(), nb::arg("ring_offsets").noconvert(),
        nb::arg("poly_offsets").noconvert(), nb::arg("part_poly").noconvert() = nb::none());

    cls.def(
        "finish",
        [](PyPolygonBuilder& self) {
            auto state = self.exclusive();
            return wrap_engine(finish(*state));
        },
        nb::sig("def finish(self) -> Engine"));
}

}  // namespace vardelin::lib
