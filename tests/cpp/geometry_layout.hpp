#pragma once
// Flat polygon layouts for the geometry kernels, filled by hand: a ring is a coordinate list, a
// part a list of rings with the exterior first. Depends on the layout type only.
#include <utility>
#include <vector>

#include "core/polygon_layout.hpp"

namespace vardelin::testing::geometry {

using Ring = std::vector<std::pair<double, double>>;
using Part = std::vector<Ring>;

struct Rings {
    std::vector<double> xs, ys;
    std::vector<i64> ring_offsets{0}, poly_offsets{0};

    // Appends a part and returns its id.
    std::size_t add(const Part& part) {
        for (const Ring& ring : part) {
            for (auto [x, y] : ring) {
                xs.push_back(x);
                ys.push_back(y);
            }
            ring_offsets.push_back(static_cast<i64>(xs.size()));
        }
        poly_offsets.push_back(static_cast<i64>(ring_offsets.size() - 1));
        return poly_offsets.size() - 2;
    }
    PolygonLayout layout() const { return {xs, ys, ring_offsets, poly_offsets}; }
};

// Counter-clockwise, stored open.
inline Ring rect(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}; }
inline Ring square(double x0, double y0, double side) { return rect(x0, y0, x0 + side, y0 + side); }

inline Ring closed(Ring r) {
    r.push_back(r.front());
    return r;
}

inline Ring reversed(Ring r) { return Ring(r.rbegin(), r.rend()); }

}  // namespace vardelin::testing::geometry
