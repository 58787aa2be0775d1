#pragma once
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/strategy/cartesian/side_robust.hpp>

namespace vardelin::query::geometry {

// Exact orientation of c relative to the directed line a -> b: +1 left (counter-clockwise),
// -1 right, 0 collinear. The adaptive predicate computes the sign of the determinant exactly
// for finite coordinates whose products neither overflow nor underflow. Its default policy
// calls a determinant within a relative epsilon of zero collinear, which would make nearly
// collinear points touch; comparing with zero exactly (fp_equals_policy) keeps it exact.
inline int orientation(double ax, double ay, double bx, double by, double cx, double cy) noexcept {
    using Point = boost::geometry::model::d2::point_xy<double>;
    using Side = boost::geometry::strategy::side::side_robust<double, boost::geometry::strategy::side::fp_equals_policy>;
    return Side::apply(Point(ax, ay), Point(bx, by), Point(cx, cy));
}

}  // namespace vardelin::query::geometry
