#include "lib/engine_methods.hpp"

#include <string>

#include <nanobind/stl/string.h>

#include "engine/indexes.hpp"

namespace vardelin::lib {

void def_build_index(EngineClass& cls) {
    cls.def(
        "build_index", [](PyEngine& self) { build_index(*self.exclusive()); },
        "Build the optimal index for this dataset without issuing any query, via a\n"
        "representative range query. Idempotent and a no-op if the index is already built.");
}

void def_build_index_for_calibration(EngineClass& cls) {
    cls.def(
        "_build_index_for_calibration",
        [](PyEngine& self, const std::string& kind) {
            auto e = self.exclusive();
            build_index_for_calibration(*e, kind);
        },
        nb::arg("kind"), "Build a specific index kind for the internal calibration harness");
}

void def_index_bytes(EngineClass& cls) {
    cls.def(
        "index_bytes", [](PyEngine& self) { return index_bytes(*self.shared()); },
        "Heap bytes of all currently-built indexes (excludes the always-present xs/ys arrays).\n"
        "0 if none built. Sums every built index. Usually one but several can coexist.");
}

void def_stats_info(EngineClass& cls) {
    cls.def(
        "stats_info", [](PyEngine& self) { return stats_info(*self.shared()); },
        "Human-readable summary of dataset statistics for debugging");
}

}  // namespace vardelin::lib
