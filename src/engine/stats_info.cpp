#include <string>

#include "core/float_format.hpp"
#include "engine/planner_methods.hpp"

namespace vardelin {

std::string stats_info(const Engine& engine) {
    const DatasetStats& s = engine.stats;
    std::string extent = "None";
    if (s.extent) {
        const Box& b = *s.extent;
        extent = "Some(RECT(" + format_shortest(b.min_x) + " " + format_shortest(b.min_y) + "," +
                 format_shortest(b.max_x) + " " + format_shortest(b.max_y) + "))";
    }
    return "n=" + std::to_string(s.n) + ", kind=" + name_of(s.kind) + ", distribution=" + name_of(s.distribution) +
           ", density=" + format_sci3(s.density) + ", extent=" + extent;
}

}  // namespace vardelin
