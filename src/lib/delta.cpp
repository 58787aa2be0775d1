#include "lib/engine_methods.hpp"

#include "engine/delta.hpp"

namespace vardelin::lib {

void def_append_delta(EngineClass& cls) {
    cls.def(
        "append_delta",
        [](PyEngine& self, const InArray<double>& xs, const InArray<double>& ys) {
            auto e = self.exclusive();
            require_delta_support(*e);
            append_delta(*e, point_arrays(xs, ys));
        },
        nb::arg("xs").noconvert(), nb::arg("ys").noconvert(),
        "Append new points to the delta buffer (point datasets only). Queries reflect them\n"
        "immediately via the delta scan. Auto-flushed past DELTA_FLUSH_FRACTION of the main.");
}

void def_flush(EngineClass& cls) {
    cls.def(
        "flush", [](PyEngine& self) { merge_delta(*self.exclusive()); },
        "Force the delta buffer to be merged into the main index immediately");
}

void def_delta_len(EngineClass& cls) {
    cls.def(
        "delta_len", [](PyEngine& self) { return self.shared()->delta_xs.size(); },
        "Number of points in the delta buffer (not yet flushed into the main index)");
}

}  // namespace vardelin::lib
