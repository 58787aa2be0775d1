#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "core/numeric.hpp"
#include "wkb/fault.hpp"

namespace vardelin {

// A cursor over one geometry's bytes, borrowed in place. Every read checks that it stays
// inside the blob; bytes after a complete geometry are never looked at.
struct WkbReader {
    const std::uint8_t* bytes = nullptr;
    u64 len = 0;
    u64 pos = 0;

    explicit WkbReader(std::span<const std::uint8_t> blob) noexcept : bytes(blob.data()), len(blob.size()) {}
    bool has(u64 k) const noexcept { return k <= len - pos; }  // pos <= len always
};

// One chunk's ring, part and part-to-geometry arrays from the filling pass.
struct ChunkSmall {
    std::vector<u64> ring_offsets{0};  // ring ends as positions in the chunk's coordinate window
    std::vector<u64> poly_offsets{0};  // part ends as ring numbers within the chunk
    std::vector<u32> part_poly;        // column geometry number of each part
    bool multi = false;                // some geometry gave a part count other than 1
};

// The chunk's slice of the final coordinate arrays and the next free slot in it.
struct FillWindow {
    std::span<double> xs;
    std::span<double> ys;
    u64 cursor = 0;
};

// What one geometry will add to the output. Rings and parts are counted beside the
// coordinates so that every array of a column is sized, and checked against the memory
// there is, before the filling pass writes anything.
struct WkbCounts {
    u64 coords = 0;
    u64 rings = 0;
    u64 parts = 0;
};

// Counting pass: validates the whole structure of one Polygon (3) or MultiPolygon (6) and
// adds its counts to `counts`; point data is stepped over with one bounds check. Every count
// is bounded by the blob's length, so one geometry's sums cannot overflow.
WkbFault count_geometry(WkbReader& r, WkbCounts& counts);
WkbFault count_polygon_body(WkbReader& r, bool little, WkbCounts& counts);

// Filling pass over the same bytes: coordinates into the window, ring and part ends and the
// geometry number of every part into the chunk's arrays; `parts` is the geometry's part count.
WkbFault fill_geometry(WkbReader& r, u32 geometry, FillWindow& window, ChunkSmall& out, u64& parts);
WkbFault fill_polygon_body(WkbReader& r, bool little, FillWindow& window, std::vector<u64>& ring_offsets);

}  // namespace vardelin
