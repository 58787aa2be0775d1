#pragma once
#include <cstdint>
#include <span>

#include "core/numeric.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// Decode a WKB column read in place (its time becomes wkb_decode_ns) and build the dataset;
// one logical polygon per geometry.
Engine engine_from_wkb_polygons(std::span<const std::uint8_t> data, std::span<const i64> offsets);
Engine engine_from_wkb_polygon_views(std::span<const std::uint8_t> views,
                                     std::span<const std::span<const std::uint8_t>> buffers);

}  // namespace vardelin
