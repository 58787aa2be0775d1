#include "lib/engine_methods.hpp"

#include <string>

#include <nanobind/stl/string.h>

#include "engine/settings.hpp"

namespace vardelin::lib {

void def_set_index_mode(EngineClass& cls) {
    cls.def(
        "set_index_mode",
        [](PyEngine& self, const std::string& mode) { return set_index_mode(*self.exclusive(), mode); },
        nb::arg("mode"),
        "Set the index build policy: 'auto', 'eager' or 'none'.\n"
        "Returns the previous mode as a string so callers can restore it after a scoped override.");
}

void def_set_cost_factors(EngineClass& cls) {
    cls.def(
        "set_cost_factors",
        [](PyEngine& self, nb::handle values) {
            auto e = self.exclusive();
            const auto list = to_float_list(values, "values");
            e->cost_factors = CostFactors::from_values(list);
        },
        nb::arg("values"),
        "Replace the planner cost factors from the ordered values supplied by the Python wrapper",
        nb::sig("def set_cost_factors(self, values: " VARDELIN_SEQUENCE("float") ") -> None"));
}

void def_set_coordinate_system(EngineClass& cls) {
    cls.def(
        "set_coordinate_system",
        [](PyEngine& self, const std::string& coordinate_system) {
            auto e = self.exclusive();
            e->coordinate_system = parse_coordinate_system(coordinate_system);
        },
        nb::arg("coordinate_system"),
        "Set how threshold distances are measured ('planar' or 'geographic'), fixed per frame");
}

void def_coordinate_system(EngineClass& cls) {
    cls.def(
        "coordinate_system",
        [](PyEngine& self) { return std::string(name_of(self.shared()->coordinate_system)); },
        "The coordinate system this engine measures threshold distances in");
}

}  // namespace vardelin::lib
