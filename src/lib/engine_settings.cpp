#include <string>

#include <nanobind/stl/string.h>

#include "lib/convert.hpp"
#include "lib/py_engine.hpp"

namespace vardelin::lib {

void bind_engine_settings(EngineClass& cls) {
    cls.def(
        "set_cost_factors",
        [](PyEngine& self, nb::handle values) {
            auto e = self.exclusive();
            const auto list = to_float_list(values, "values");
            e->cost_factors = CostFactors::from_values(list);
        },
        nb::arg("values"),
        "Replace the planner cost factors from the ordered values supplied by the Python wrapper");

    cls.def(
        "set_coordinate_system",
        [](PyEngine& self, const std::string& coordinate_system) {
            auto e = self.exclusive();
            e->coordinate_system = parse_coordinate_system(coordinate_system);
        },
        nb::arg("coordinate_system"),
        "Set how threshold distances are measured ('planar' or 'geographic'), fixed per frame");

    cls.def(
        "coordinate_system",
        [](PyEngine& self) { return std::string(name_of(self.shared()->coordinate_system)); },
        "The coordinate system this engine measures threshold distances in");
}

}  // namespace vardelin::lib
