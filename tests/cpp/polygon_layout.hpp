#pragma once
// Hand-made polygon layouts for the index tests.
#include <vector>

#include "core/numeric.hpp"
#include "index/part_boxes.hpp"

struct TestPolygons {
    std::vector<double> xs, ys;
    std::vector<vardelin::i64> ring_offsets{0}, poly_offsets{0};

    // Appends a ring to the part being built.
    void ring(std::initializer_list<std::pair<double, double>> pts) {
        for (const auto& [x, y] : pts) xs.push_back(x), ys.push_back(y);
        ring_offsets.push_back(static_cast<vardelin::i64>(xs.size()));
    }
    // Closes the current part after the rings appended since the last call.
    void end_part() { poly_offsets.push_back(static_cast<vardelin::i64>(ring_offsets.size() - 1)); }

    vardelin::PartLayout layout() const { return {xs, ys, ring_offsets, poly_offsets}; }
};

// Squares of side 2 at (4i, 4j), the fifth part without rings and the eighth with an empty
// exterior ring, the third with a hole.
inline TestPolygons square_parts(int count) {
    TestPolygons t;
    for (int i = 0; i < count; ++i) {
        const double x = 4.0 * (i % 10), y = 4.0 * (i / 10);
        if (i % 10 == 4) {
            t.end_part();
            continue;
        }
        if (i % 10 == 7) {
            t.ring({});
            t.end_part();
            continue;
        }
        t.ring({{x, y}, {x + 2, y}, {x + 2, y + 2}, {x, y + 2}, {x, y}});
        if (i % 10 == 2) t.ring({{x + 0.5, y + 0.5}, {x + 1.5, y + 0.5}, {x + 1.5, y + 1.5}, {x + 0.5, y + 0.5}});
        t.end_part();
    }
    return t;
}
