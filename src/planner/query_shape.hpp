#pragma once
#include <cstdint>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "stats/types.hpp"

namespace vardelin {

// What a caller tells the planner about a query; always handed over by reference together
// with the number of queries of this shape. Callers planning for a whole array of queries put
// a representative shape here, with zeros where the planner reads nothing.
struct QueryShape {
    enum class Tag : std::uint8_t { Knn = 0, Range = 1, Point = 2 };
    Tag tag = Tag::Point;
    u64 k = 0;      // Knn
    double x = 0;   // Knn, Point
    double y = 0;   // Knn, Point
    Box box{};      // Range, normalised by the caller (min <= max on each axis)

    static constexpr QueryShape knn(u64 k, double x, double y) noexcept { return {Tag::Knn, k, x, y, {}}; }
    static constexpr QueryShape range(const Box& b) noexcept { return {Tag::Range, 0, 0, 0, b}; }
    static constexpr QueryShape point(double x, double y) noexcept { return {Tag::Point, 0, x, y, {}}; }

    // One search of a join whose searches share a size but not a place: a box of that size at
    // the origin, normalised, since only its size may inform the plan (a selectivity bar would
    // otherwise judge the origin, not the queries). A negative side spans from it to 0, a NaN
    // side gives NaN low corners and 0 high ones.
    static QueryShape sized(double width, double height) noexcept {
        return range(normalised_box(Box{0.0, 0.0, width, height}));
    }

    // The search of a planar within-distance join: a box of side 2d.
    static QueryShape within(double d) noexcept { return sized(d + d, d + d); }

    constexpr bool is_knn() const noexcept { return tag == Tag::Knn; }
};

}  // namespace vardelin
