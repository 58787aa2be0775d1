#pragma once
#include <span>

#include "core/numeric.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// A new compact polygon dataset holding the chosen logical polygons of `source` in the given
// order (new logical polygon k is source polygon indices[k], repeats copied again), with its
// own copies of their geometry, fresh indexes and metrics, and the source's index mode, cost
// factors and coordinate system. Checks, in order: the row limit on the entries, a polygon
// source, every entry below its logical count, then the row limit on the selected parts.
Engine subset(const Engine& source, std::span<const u32> indices);

}  // namespace vardelin
