#include <string>

#include <nanobind/stl/string.h>

#include "engine/planner_methods.hpp"
#include "lib/py_engine.hpp"

namespace vardelin::lib {

void bind_engine_planner(EngineClass& cls) {
    cls.def(
        "build_index", [](PyEngine& self) { build_index(*self.exclusive()); },
        "Build the optimal index for this dataset without issuing any query, via a\n"
        "representative range query. Idempotent and a no-op if the index is already built.");

    cls.def(
        "set_index_mode",
        [](PyEngine& self, const std::string& mode) { return set_index_mode(*self.exclusive(), mode); },
        nb::arg("mode"),
        "Set the index build policy: 'auto', 'eager' or 'none'.\n"
        "Returns the previous mode as a string so callers can restore it after a scoped override.");

    cls.def(
        "stats_info", [](PyEngine& self) { return stats_info(*self.shared()); },
        "Human-readable summary of dataset statistics for debugging");
}

}  // namespace vardelin::lib
