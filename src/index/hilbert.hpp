#pragma once
#include <utility>

#include "core/numeric.hpp"

namespace vardelin {

inline constexpr u32 kHilbertSide = 1u << 16;

// Position of cell (x, y), both below 65536, along the Hilbert curve over the 65536 x 65536
// grid: at each scale the quadrant adds its share, then the coordinates turn into the
// quadrant's own frame.
constexpr u32 hilbert_index(u32 x, u32 y) noexcept {
    u32 d = 0;
    for (u32 s = kHilbertSide / 2; s > 0; s /= 2) {
        const u32 rx = (x & s) ? 1 : 0;
        const u32 ry = (y & s) ? 1 : 0;
        d += s * s * ((3 * rx) ^ ry);
        if (ry == 0) {
            if (rx == 1) {
                x = kHilbertSide - 1 - x;
                y = kHilbertSide - 1 - y;
            }
            std::swap(x, y);
        }
    }
    return d;
}

}  // namespace vardelin
