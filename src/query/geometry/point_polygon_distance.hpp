#pragma once
#include <cmath>
#include <cstddef>

#include "core/numeric.hpp"
#include "core/polygon_layout.hpp"
#include "core/squares.hpp"

namespace vardelin {

// What segment_distance2 gives for an edge whose squares it cannot trust.
inline constexpr double kUnheldSquare = -1.0;

// The squared form of the distance from (x, y) to the segment from a to b, as every
// point-to-part distance computes it: the projection clamped to the segment, a zero-length
// segment its point a; a NaN length still projects, so that the NaN reaches the result.
struct EdgeSquares {
    double dx, dy, len2;  // the segment
    double ex, ey, d2;    // from its nearest point to (x, y)
};

inline EdgeSquares edge_squares(double x, double y, double ax, double ay, double bx, double by) noexcept {
    EdgeSquares e;
    e.dx = bx - ax, e.dy = by - ay;
    e.len2 = e.dx * e.dx + e.dy * e.dy;
    double t = 0.0;
    if (e.len2 > 0.0 || e.len2 != e.len2) {
        t = ((x - ax) * e.dx + (y - ay) * e.dy) / e.len2;
        if (t < 0.0) {
            t = 0.0;
        } else if (t > 1.0) {
            t = 1.0;
        }
    }
    e.ex = x - (ax + e.dx * t), e.ey = y - (ay + e.dy * t);
    e.d2 = e.ex * e.ex + e.ey * e.ey;
    return e;
}

// The squared distance from (x, y) to the segment where the squared form holds it. Where the
// segment's squared length or the squared distance leaves that form's range (beyond about
// 1e154 or below 1e-154 apart, or NaN, or infinity) the result is kUnheldSquare, and the edge
// is measured by segment_distance_scaled instead: a length that overflows would pin the
// projection to a, a distance that underflows would read 0.
inline double segment_distance2(double x, double y, double ax, double ay, double bx, double by) noexcept {
    const EdgeSquares e = edge_squares(x, y, ax, ay, bx, by);
    const bool length_holds = squared_form_holds(e.len2) || (e.dx == 0.0 && e.dy == 0.0);
    const bool distance_holds = squared_form_holds(e.d2) || (e.ex == 0.0 && e.ey == 0.0);
    if (length_holds && distance_holds) [[likely]] return e.d2;
    return kUnheldSquare;
}

// The distance (not squared) from (x, y) to the segment, for the edges segment_distance2 does
// not hold: the same projection on the point and the segment taken relative to a, each scaled
// by its own power of two, so that neither a length nor a product nor the distance can
// overflow or underflow. Exact for every finite coordinate; a NaN gives NaN, an infinite
// coordinate the squared form's answer.
double segment_distance_scaled(double x, double y, double ax, double ay, double bx, double by) noexcept;

// The nearest of many edges: squared distances where the squared form holds, exact distances
// where it does not, one square root at the end. A NaN distance (an edge touching a NaN
// coordinate) never wins.
struct NearestEdge {
    double best2 = kInfinity;
    double best = kInfinity;

    void add(double x, double y, double ax, double ay, double bx, double by) noexcept {
        const double d2 = segment_distance2(x, y, ax, ay, bx, by);
        if (d2 >= 0.0) [[likely]] {
            if (d2 < best2) best2 = d2;
        } else {
            best = std::fmin(best, segment_distance_scaled(x, y, ax, ay, bx, by));
        }
    }
    double distance() const noexcept { return std::fmin(std::sqrt(best2), best); }
};

// Whether the edge lies within d >= 0 of (x, y), exactly as NearestEdge would measure it.
inline bool segment_within(double x, double y, double ax, double ay, double bx, double by, double d) noexcept {
    const double d2 = segment_distance2(x, y, ax, ay, bx, by);
    // The square root is the one the nearest-edge distance would take of this edge's d2.
    if (d2 >= 0.0) [[likely]] return d2 <= d * d * 2.0 && std::sqrt(d2) <= d;
    return segment_distance_scaled(x, y, ax, ay, bx, by) <= d;
}

// segment_within out of line, for the rare edges a faster test leaves undecided.
bool segment_within_measured(double x, double y, double ax, double ay, double bx, double by, double d) noexcept;

// Whether a distance lets segment_within_plain skip the range test of edges beyond it: its
// doubled square, the bound that test compares with first, is then itself inside the range.
inline bool plain_distance(double d) noexcept { return d >= 0x1p-470; }

// segment_within for an edge and a point in the plain window (in_plain_window) and a
// plain_distance d. The squared length and the squared distance cannot overflow there, nor can
// a nonzero length underflow, so only a distance below the range needs the full test.
inline bool segment_within_plain(double x, double y, double ax, double ay, double bx, double by, double d) noexcept {
    const EdgeSquares e = edge_squares(x, y, ax, ay, bx, by);
    // Above d * d * 2, itself above kSquaredLow, d2 is held and lies beyond d.
    if (e.d2 > d * d * 2.0) return false;
    if (e.d2 >= kSquaredLow) [[likely]] return std::sqrt(e.d2) <= d;
    return segment_within_measured(x, y, ax, ay, bx, by, d);
}

// Planar distance from (x, y) to part `part`: 0.0 when part_contains_point says inside, otherwise the
// distance to the nearest edge of any of its rings (exterior and holes, closing edge included,
// rings of fewer than 2 coordinates contributing none). Edges touching a NaN coordinate give a
// NaN distance that the minimum ignores; a part with no edges, a part with no rings and a NaN
// query point are at +inf. Allocates nothing; one square root per call where every edge holds
// in the squared form.
double point_to_polygon_distance(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept;

// The same distance for a plain part (part_is_plain) and a plain_point, without the per-edge
// range tests.
double plain_point_to_polygon_distance(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept;

}  // namespace vardelin
