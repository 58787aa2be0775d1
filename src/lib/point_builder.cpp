#include "lib/point_builder.hpp"

#include "engine/point_builder.hpp"
#include "lib/borrow.hpp"
#include "lib/convert.hpp"
#include "lib/py_engine.hpp"

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
                const auto x = contiguous(xs, "xs must be a contiguous float64 array");
                const auto y = contiguous(ys, "ys must be a contiguous float64 array");
                require_same_length(x.size(), y.size(), "xs and ys must have the same length");
                b->append(x, y, decode_ns);
            },
            nb::arg("xs").noconvert(), nb::arg("ys").noconvert(), nb::arg("wkb_decode_ns") = 0)
        .def(
            "finish", [](PyPointBuilder& self) { return wrap_engine(self.exclusive()->finish()); });
}

}  // namespace vardelin::lib
