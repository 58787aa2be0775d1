#include <string>

#include <nanobind/stl/string.h>

#include "engine/calibration_build.hpp"
#include "engine/index_build.hpp"
#include "lib/py_engine.hpp"

namespace vardelin::lib {

void bind_engine_indexes(EngineClass& cls) {
    cls.def(
        "_build_index_for_calibration",
        [](PyEngine& self, const std::string& kind) {
            auto e = self.exclusive();
            build_index_for_calibration(*e, kind);
        },
        nb::arg("kind"), "Build a specific index kind for the internal calibration harness");

    cls.def(
        "index_bytes", [](PyEngine& self) { return index_bytes(*self.shared()); },
        "Heap bytes of all currently-built indexes (excludes the always-present xs/ys arrays).\n"
        "0 if none built. Sums every built index. Usually one but several can coexist.");
}

}  // namespace vardelin::lib
