#include <cstdint>
#include <optional>

#include <nanobind/stl/optional.h>

#include "lib/convert.hpp"
#include "lib/py_engine.hpp"
#include "wkb/polygon_builder.hpp"

namespace vardelin::lib {

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
            const auto x = contiguous(xs, "xs must be a contiguous float64 array");
            const auto y = contiguous(ys, "ys must be a contiguous float64 array");
            const auto r = contiguous(ring_offsets, "ring_offsets must be contiguous");
            const auto p = contiguous(poly_offsets, "poly_offsets must be contiguous");
            require_same_length(x.size(), y.size(), "xs and ys must have the same length");
            std::optional<DeferredArray<i64>> map;
            if (part_poly) map = deferred_contiguous(*part_poly, "part_poly must be contiguous");
            append_polygon_rings(*state, x, y, r, p, map ? &*map : nullptr);
        },
        nb::arg("xs").noconvert(), nb::arg("ys").noconvert(), nb::arg("ring_offsets").noconvert(),
        nb::arg("poly_offsets").noconvert(), nb::arg("part_poly").noconvert() = nb::none());

    cls.def("finish", [](PyPolygonBuilder& self) {
        auto state = self.exclusive();
        return wrap_engine(finish(*state));
    });
}

}  // namespace vardelin::lib
