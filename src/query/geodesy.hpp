#pragma once
#include <cmath>

#include "core/squares.hpp"
#include "stats/types.hpp"

namespace vardelin {

inline constexpr double kDegToRad = 0.017453292519943295;
// Twice the mean Earth radius: the only Earth size the haversine distance uses.
inline constexpr double kEarthDiameterM = 12742017.6;
// Smaller than the haversine sphere's 111195.08 m per degree, so the latitude margin is wider
// than the circle it must hold.
inline constexpr double kMetresPerDegreeLat = 110574.0;
// The haversine sphere has 12742017.6 * pi / 360 = 111195.0797 m per degree. A box whose
// longitude half-width assumed more metres per degree (such as the 111320 of the WGS84 equator)
// would be narrower than the haversine circle, and a point within the distance could fall
// outside it; the margin below 111195.0797 also absorbs rounding.
inline constexpr double kMetresPerDegreeLon = 111195.0;
// At or beyond this latitude a search box spans all longitudes.
inline constexpr double kPolarLatitude = 89.9;

// Whether (lon, lat) names a place: longitude in [-180, 180], latitude in [-90, 90]. A point
// elsewhere (NaN and infinities included) passes no haversine distance test, as a point, a
// query or a centre: the formula would take it for some place on the sphere, and the search
// boxes, which never leave those ranges, would find it from one side of a join only.
inline bool on_the_sphere(double lon, double lat) noexcept {
    return lon >= -180.0 && lon <= 180.0 && lat >= -90.0 && lat <= 90.0;
}

// Box [min_lon, min_lat, max_lon, max_lat] (as min_x, min_y, max_x, max_y) holding every point
// within `distance` metres (haversine) of (lon, lat). The longitude half-width is taken at the
// box latitude farthest from the equator; near a pole, or when the box would cross the
// antimeridian, it spans all longitudes instead of being split. A negative distance gives an
// inverted box, a NaN one the whole sphere.
inline Box geographic_search_box(double lon, double lat, double distance) noexcept {
    const double q = distance / kMetresPerDegreeLat;
    const double min_lat = std::fmax(lat - q, -90.0);
    const double max_lat = std::fmin(q + lat, 90.0);
    const double m = std::fmax(std::fabs(min_lat), std::fabs(max_lat));
    if (m >= kPolarLatitude) return {-180.0, min_lat, 180.0, max_lat};
    const double w = distance / (std::cos(m * kDegToRad) * kMetresPerDegreeLon);
    if (lon - w < -180.0 || w + lon > 180.0) return {-180.0, min_lat, 180.0, max_lat};
    return {lon - w, min_lat, w + lon, max_lat};
}

// The search box around longitude 0, for size estimates: only its widths matter.
Box conservative_degree_box(double lat, double distance) noexcept;

// The haversine of two points so close (below about 1e-148 m) that its squares underflow:
// the same sum on the sines scaled by a power of two.
double haversine_m_scaled(double s_lon, double s_lat, double c) noexcept;

// The haversine's half-angle sines from point 1 to point 2 (degrees), the cosine product and
// their sum a, in the one operation order every caller shares so that all get the same bits.
struct HaversineTerms {
    double s_lon, s_lat, c, a;

    HaversineTerms(double lon1, double lat1, double cos_lat1, double lon2, double lat2) noexcept
        : s_lon(std::sin(((lon2 - lon1) * kDegToRad) * 0.5)), s_lat(std::sin(((lat2 - lat1) * kDegToRad) * 0.5)),
          c(std::cos(lat2 * kDegToRad) * cos_lat1), a((s_lon * s_lon) * c + s_lat * s_lat) {}

    // Metres from a, exact where its squares did not underflow (a >= kSquaredLow or a zero).
    double metres_plain() const noexcept { return std::asin(std::fmin(std::sqrt(a), 1.0)) * kEarthDiameterM; }
    double metres() const noexcept {
        if (a < kSquaredLow && (s_lon != 0.0 || s_lat != 0.0)) [[unlikely]] return haversine_m_scaled(s_lon, s_lat, c);
        return metres_plain();
    }
};

// Points whose sum a underflows below kSquaredLow lie less than asin(2^-480) diameters (about
// 4e-138 m) apart by the exact form and by the plain one alike, so a test against a limit of
// at least this many metres keeps each of them either way and needs no scaled form.
inline constexpr double kHaversinePlainLimit = 1e-130;

// Haversine metres from point 1 to point 2 (degrees), with cos of point 1's latitude given:
// loops with one fixed point compute it once. A NaN coordinate gives asin(1) * diameter, not
// NaN.
inline double haversine_m_cos1(double lon1, double lat1, double cos_lat1, double lon2, double lat2) noexcept {
    return HaversineTerms(lon1, lat1, cos_lat1, lon2, lat2).metres();
}

inline double haversine_m(double lon1, double lat1, double lon2, double lat2) noexcept {
    return haversine_m_cos1(lon1, lat1, std::cos(lat1 * kDegToRad), lon2, lat2);
}

}  // namespace vardelin
