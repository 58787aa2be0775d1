#pragma once
#include <cstddef>
#include <optional>
#include <span>

#include "core/numeric.hpp"
#include "core/polygon_layout.hpp"
#include "core/shared_array.hpp"

namespace vardelin {

// Unsigned area of part `part`: |A(exterior)| less |A(hole)| for each hole in order, made
// positive, where A is the shifted shoelace of the ring closed back to its first coordinate
// (rings of fewer than 3 coordinates enclose nothing; open and closed storage agree; holes are
// subtracted whatever their orientation). A part with no rings has area 0, and a part with an
// empty exterior the sum of its holes. A non-finite coordinate in any ring of the part,
// whether or not that ring encloses anything, makes the area NaN: a corrupted vertex is
// reported, never measured as 0.
double part_area(const PolygonLayout& layout, std::size_t part) noexcept;

// Area of every logical polygon: without `part_poly` one entry per part, else `logical_count`
// entries, entry g the sum from 0 of the areas of the parts p with part_poly[p] == g, added in
// part order so the sums do not depend on the thread count; a polygon with no parts gets 0.
// Everything runs on the worker pool where each polygon's parts lie together in ascending
// polygon order, else the part areas do and the sums follow on the calling thread. A map whose
// length differs from the part count, or with an entry not below `logical_count`, is a broken
// invariant (InternalError).
Buffer<double> polygon_areas(const PolygonLayout& layout, std::optional<std::span<const u32>> part_poly,
                             u64 logical_count);

}  // namespace vardelin
