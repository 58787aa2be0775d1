#pragma once
#include <cstdint>
#include <string_view>

namespace vardelin {

enum class CoordinateSystem : std::uint8_t { Planar = 0, Geographic = 1 };

constexpr std::string_view name_of(CoordinateSystem cs) noexcept {
    return cs == CoordinateSystem::Geographic ? "geographic" : "planar";
}

// Throws Error naming the text exactly as given.
CoordinateSystem parse_coordinate_system(std::string_view text);

}  // namespace vardelin
