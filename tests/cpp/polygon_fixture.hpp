#pragma once
// Polygon datasets for tests, filled by hand: rings are listed as coordinate lists and parts as
// lists of rings, exterior first.
#include <utility>
#include <vector>

#include "core/shared_array.hpp"
#include "engine/engine.hpp"
#include "engine/construction.hpp"
#include "index/part_boxes.hpp"

namespace vardelin::testing {

using Ring = std::vector<std::pair<double, double>>;
using Rings = std::vector<Ring>;

struct Layout {
    std::vector<double> xs, ys;
    std::vector<i64> ring_offsets{0}, poly_offsets{0};

    // Appends a part and returns its id.
    std::size_t add(const Rings& part) {
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
    u64 parts() const { return poly_offsets.size() - 1; }
    PolygonLayout part_layout() const { return {xs, ys, ring_offsets, poly_offsets}; }
};

template <class T>
SharedArray<T> shared(const std::vector<T>& v) {
    return make_shared_array(Buffer<T>(v.begin(), v.end()));
}

// A polygon Engine through the one constructor, every part its own polygon.
inline Engine polygon_engine(const Layout& l) {
    return new_polygons(shared(l.xs), shared(l.ys), shared(l.ring_offsets), shared(l.poly_offsets), nullptr,
                        l.parts());
}

// Counter-clockwise, stored open.
inline Ring rect(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}; }
inline Ring square(double x0, double y0, double side) { return rect(x0, y0, x0 + side, y0 + side); }

inline Ring closed(Ring r) {
    r.push_back(r.front());
    return r;
}

}  // namespace vardelin::testing
