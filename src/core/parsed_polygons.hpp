#pragma once
#include <optional>
#include <vector>

#include "core/numeric.hpp"
#include "core/shared_array.hpp"

namespace vardelin {

// One batch of polygons in the flat layout, owned by value: the WKB decoder's output and the
// polygon builder's input. Both offset arrays start at 0 and never decrease.
struct ParsedPolygons {
    Buffer<double> xs;
    Buffer<double> ys;
    std::vector<u64> ring_offsets{0};
    std::vector<u64> poly_offsets{0};
    std::optional<std::vector<u32>> part_poly;  // logical polygon of each part, when not part = polygon
    // Carried beside the part map because trailing geometries without parts still count as
    // logical polygons, which the largest part-map entry cannot tell.
    u64 logical_count = 0;

    u64 part_count() const noexcept { return poly_offsets.empty() ? 0 : poly_offsets.size() - 1; }
    u64 ring_count() const noexcept { return ring_offsets.empty() ? 0 : ring_offsets.size() - 1; }
};

}  // namespace vardelin
