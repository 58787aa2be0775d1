#include "engine/settings.hpp"

#include "core/error.hpp"
#include "engine/engine.hpp"
#include "planner/index_mode.hpp"

namespace vardelin {

CoordinateSystem parse_coordinate_system(std::string_view text) {
    if (text == "planar") return CoordinateSystem::Planar;
    if (text == "geographic") return CoordinateSystem::Geographic;
    throw Error("coordinate system must be 'planar' or 'geographic', got '" + std::string(text) + "'");
}

std::string set_index_mode(Engine& engine, std::string_view mode) {
    const IndexMode next = parse_index_mode(mode);
    std::string previous(name_of(engine.index_mode));
    engine.index_mode = next;
    return previous;
}

}  // namespace vardelin
