#include "query/distances.hpp"

#include <cmath>
#include <initializer_list>

#include "core/error.hpp"
#include "core/squares.hpp"
#include "core/parallel_map.hpp"
#include "query/geodesy.hpp"

namespace vardelin {

namespace {

void require_equal_spans(std::initializer_list<std::size_t> sizes) {
    for (std::size_t s : sizes) {
        if (s != *sizes.begin()) throw InternalError("distance inputs of unequal length");
    }
}

// Finite points get their exact distance, however far apart or close (the squared form where
// it holds, a scaled form beyond: 1e200 apart is 1e200, not +inf). Where a coordinate is not
// finite the plain formula's answer stands, inf - inf giving NaN.
inline double planar(double x1, double y1, double x2, double y2) noexcept {
    const double d = planar_distance(x1, y1, x2, y2);
    if (d != kInfinity) [[likely]] return d;
    const double dx = x1 - x2, dy = y1 - y2;
    return std::sqrt(dx * dx + dy * dy);
}

}  // namespace

Buffer<double> euclidean_distance(std::span<const double> xs1, std::span<const double> ys1,
                                  std::span<const double> xs2, std::span<const double> ys2) {
    require_equal_spans({xs1.size(), ys1.size(), xs2.size(), ys2.size()});
    return parallel_map<double>(xs1.size(), [&](std::size_t i) { return planar(xs1[i], ys1[i], xs2[i], ys2[i]); });
}

Buffer<double> haversine_distance(std::span<const double> lons1, std::span<const double> lats1,
                                  std::span<const double> lons2, std::span<const double> lats2) {
    require_equal_spans({lons1.size(), lats1.size(), lons2.size(), lats2.size()});
    return parallel_map<double>(lons1.size(),
                                [&](std::size_t i) { return haversine_m(lons1[i], lats1[i], lons2[i], lats2[i]); });
}

Buffer<double> euclidean_distance_to(std::span<const double> xs, std::span<const double> ys, double cx, double cy) {
    require_equal_spans({xs.size(), ys.size()});
    return parallel_map<double>(xs.size(), [&](std::size_t i) { return planar(xs[i], ys[i], cx, cy); });
}

Buffer<double> haversine_distance_to(std::span<const double> lons, std::span<const double> lats, double cx,
                                     double cy) {
    require_equal_spans({lons.size(), lats.size()});
    const double cos_cy = std::cos(cy * kDegToRad);
    return parallel_map<double>(lons.size(),
                                [&](std::size_t i) { return haversine_m_cos1(cx, cy, cos_cy, lons[i], lats[i]); });
}

}  // namespace vardelin
