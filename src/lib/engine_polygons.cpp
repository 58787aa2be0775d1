#include <optional>

#include <nanobind/stl/optional.h>

#include "engine/polygons.hpp"
#include "lib/convert.hpp"
#include "lib/py_engine.hpp"

namespace vardelin::lib {

void bind_engine_polygons(EngineClass& cls) {
    cls.def_static(
        "from_polygon_rings",
        [](const InArray<double>& xs, const InArray<double>& ys, const InArray<i64>& ring_offsets,
           const InArray<i64>& poly_offsets, const std::optional<InArray<i64>>& part_poly) {
            const auto x = contiguous(xs, "xs must be a contiguous float64 array");
            const auto y = contiguous(ys, "ys must be a contiguous float64 array");
            const auto r = contiguous(ring_offsets, "ring_offsets must be a contiguous int64 array");
            const auto p = contiguous(poly_offsets, "poly_offsets must be a contiguous int64 array");
            require_same_length(x.size(), y.size(), "xs and ys must have the same length");
            std::optional<DeferredArray<i64>> map;
            if (part_poly) map = deferred_contiguous(*part_poly, "part_poly must be a contiguous int64 array");
            return wrap_engine(engine_from_polygon_rings(x, y, r, p, map ? &*map : nullptr));
        },
        nb::arg("xs").noconvert(), nb::arg("ys").noconvert(), nb::arg("ring_offsets").noconvert(),
        nb::arg("poly_offsets").noconvert(), nb::arg("part_poly").noconvert() = nb::none(),
        "Construct from two-level polygon ring arrays (supports holes and MultiPolygons).\n"
        "\n"
        "ring_offsets and poly_offsets use the layout documented on the struct fields.\n"
        "part_poly maps each part to its logical polygon (None means one part per polygon).\n"
        "Each NumPy buffer is copied once into a shared array.");
}

}  // namespace vardelin::lib
