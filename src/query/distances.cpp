#include "query/distances.hpp"

#include <cmath>
#include <initializer_list>

#include "core/error.hpp"
#include "core/parallel_map.hpp"
#include "query/geodesy.hpp"

namespace vardelin {

namespace {

void require_equal_spans(std::initializer_list<std::size_t> sizes) {
    for (std::size_t s : sizes) {
        if (s != *sizes.begin()) throw InternalError("distance inputs of unequal length");
    }
}

// No hypot: the formula is the plain one, so squares that overflow give +inf.
inline double planar(double dx, double dy) noexcept { return std::sqrt(dx * dx + dy * dy); }

}  // namespace

Buffer<double> euclidean_distance(std::span<const double> xs1, std::span<const double> ys1,
                                  std::span<const double> xs2, std::span<const double> ys2) {
    require_equal_spans({xs1.size(), ys1.size(), xs2.size(), ys2.size()});
    return parallel_map<double>(xs1.size(), [&](std::size_t i) { return planar(xs1[i] - xs2[i], ys1[i] - ys2[i]); });
}

Buffer<double> haversine_distance(std::span<const double> lons1, std::span<const double> lats1,
                                  std::span<const double> lons2, std::span<const double> lats2) {
    require_equal_spans({lons1.size(), lats1.size(), lons2.size(), lats2.size()});
    return parallel_map<double>(lons1.size(),
                                [&](std::size_t i) { return haversine_m(lons1[i], lats1[i], lons2[i], lats2[i]); });
}

Buffer<double> euclidean_distance_to(std::span<const double> xs, std::span<const double> ys, double cx, double cy) {
    require_equal_spans({xs.size(), ys.size()});
    return parallel_map<double>(xs.size(), [&](std::size_t i) { return planar(xs[i] - cx, ys[i] - cy); });
}

Buffer<double> haversine_distance_to(std::span<const double> lons, std::span<const double> lats, double cx,
                                     double cy) {
    require_equal_spans({lons.size(), lats.size()});
    const double cos_cy = std::cos(cy * kDegToRad);
    return parallel_map<double>(lons.size(),
                                [&](std::size_t i) { return haversine_m_cos1(cx, cy, cos_cy, lons[i], lats[i]); });
}

}  // namespace vardelin
