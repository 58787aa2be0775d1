#pragma once
#include <cmath>

namespace vardelin {

inline constexpr double kDegToRad = 0.017453292519943295;
// Twice the mean Earth radius; the only Earth-size constant the geographic distance uses.
inline constexpr double kEarthDiameterM = 12742017.6;

// Haversine metres from point 1 to point 2 (degrees in), for loops in which point 1 is fixed
// and the cosine of its latitude, cos(lat1 * kDegToRad), is taken once by the caller.
// The order of operations is part of the result: every geographic distance of the system
// evaluates exactly this sequence, so that the same pair never gets two answers.
inline double haversine_m_from(double lon1, double lat1, double cos_lat1, double lon2, double lat2) noexcept {
    const double s_lat = std::sin(((lat2 - lat1) * kDegToRad) * 0.5);
    const double s_lon = std::sin(((lon2 - lon1) * kDegToRad) * 0.5);
    const double c = std::cos(lat2 * kDegToRad) * cos_lat1;
    const double a = (s_lon * s_lon) * c + s_lat * s_lat;
    // fmin drops a NaN root: a NaN coordinate measures as half the circumference, not NaN.
    return std::asin(std::fmin(std::sqrt(a), 1.0)) * kEarthDiameterM;
}

inline double haversine_m(double lon1, double lat1, double lon2, double lat2) noexcept {
    return haversine_m_from(lon1, lat1, std::cos(lat1 * kDegToRad), lon2, lat2);
}

}  // namespace vardelin
