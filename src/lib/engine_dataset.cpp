#include <string>

#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>

#include "lib/convert.hpp"
#include "lib/py_engine.hpp"

namespace vardelin::lib {

void bind_engine_dataset(EngineClass& cls) {
    cls.def_static(
        "from_points",
        [](const InArray<double>& xs, const InArray<double>& ys) {
            const auto x = contiguous(xs, "xs must be a contiguous float64 array");
            const auto y = contiguous(ys, "ys must be a contiguous float64 array");
            require_same_length(x.size(), y.size(), "xs and ys must have the same length");
            return wrap_engine(engine_from_points(x, y));
        },
        nb::arg("xs").noconvert(), nb::arg("ys").noconvert(),
        "Construct from contiguous float64 numpy arrays of x and y coordinates.\n"
        "The coordinates are copied once into one shared array that every later index build shares.");

    cls.def(
        "n", [](PyEngine& self) { return self.shared()->stats.n; }, "Number of geometries in the dataset");

    cls.def(
        "extent",
        [](PyEngine& self) -> std::optional<std::tuple<double, double, double, double>> {
            const auto e = self.shared();
            if (!e->stats.extent) return std::nullopt;
            const Box& b = *e->stats.extent;
            return std::make_tuple(b.min_x, b.min_y, b.max_x, b.max_y);
        },
        "Bounding extent of the dataset as (min_x, min_y, max_x, max_y), or None if empty");

    cls.def("__repr__", [](PyEngine& self) {
        const auto e = self.shared();
        return "Engine(n=" + std::to_string(e->stats.n) + ", kind=" + name_of(e->stats.kind) +
               ", dist=" + name_of(e->stats.distribution) + ")";
    });
}

}  // namespace vardelin::lib
