#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "query/geodesy.hpp"

using namespace vardelin;

namespace {
bool in_box(const Box& b, double lon, double lat) {
    return b.min_x <= lon && lon <= b.max_x && b.min_y <= lat && lat <= b.max_y;
}

// The point `angle` radians along the great circle from (lon, lat) in direction `bearing`.
std::pair<double, double> destination(double lon, double lat, double bearing, double angle) {
    const double p1 = lat * kDegToRad, l1 = lon * kDegToRad;
    const double p2 = std::asin(std::sin(p1) * std::cos(angle) + std::cos(p1) * std::sin(angle) * std::cos(bearing));
    const double l2 =
        l1 + std::atan2(std::sin(bearing) * std::sin(angle) * std::cos(p1), std::cos(angle) - std::sin(p1) * std::sin(p2));
    return {l2 / kDegToRad, p2 / kDegToRad};
}
}  // namespace

TEST(GeographicBox, HoldsTheWholeHaversineCircle) {
    // One degree of longitude on the equator is 111195.08 m by the haversine sphere, just below
    // 111196 m: the point must be in the box (a 111320 m degree would leave it out).
    const Box b = geographic_search_box(0, 0, 111196);
    ASSERT_LE(haversine_m(0, 0, 1, 0), 111196.0);
    EXPECT_TRUE(in_box(b, 1, 0) && in_box(b, -1, 0));

    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> lon(-170, 170), lat(-85, 85), unit(0, 1);
    for (int i = 0; i < 20000; ++i) {
        const double clon = lon(rng), clat = lat(rng);
        const double d = std::pow(10.0, 1 + 5.5 * unit(rng));
        const Box box = geographic_search_box(clon, clat, d);
        const double bearing = 2 * 3.141592653589793 * unit(rng);
        const auto [plon, plat] = destination(clon, clat, bearing, d / (12742017.6 / 2));
        if (plon < -180 || plon > 180 || haversine_m(clon, clat, plon, plat) > d) continue;
        ASSERT_TRUE(in_box(box, plon, plat)) << clon << "," << clat << " d=" << d << " -> " << plon << "," << plat;
    }
}
