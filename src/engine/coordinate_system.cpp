#include "engine/coordinate_system.hpp"

#include <string>

#include "core/error.hpp"

namespace vardelin {

CoordinateSystem parse_coordinate_system(std::string_view text) {
    if (text == "planar") return CoordinateSystem::Planar;
    if (text == "geographic") return CoordinateSystem::Geographic;
    throw Error("coordinate system must be 'planar' or 'geographic', got '" + std::string(text) + "'");
}

}  // namespace vardelin
