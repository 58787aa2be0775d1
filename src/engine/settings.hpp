#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vardelin {

struct Engine;

enum class CoordinateSystem : std::uint8_t { Planar = 0, Geographic = 1 };

constexpr std::string_view name_of(CoordinateSystem cs) noexcept {
    return cs == CoordinateSystem::Geographic ? "geographic" : "planar";
}

// Throws Error naming the text exactly as given.
CoordinateSystem parse_coordinate_system(std::string_view text);

// Stores the mode named by `mode` and returns the name of the one it replaces, so a caller can
// restore it after a scoped override. An unknown name throws Error and changes nothing.
std::string set_index_mode(Engine& engine, std::string_view mode);

}  // namespace vardelin
