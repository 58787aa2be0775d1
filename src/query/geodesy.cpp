#include "query/geodesy.hpp"

namespace vardelin {

Box conservative_degree_box(double lat, double distance) noexcept {
    const double q = distance / kMetresPerDegreeLat;
    const double min_lat = std::fmax(lat - q, -90.0);
    const double max_lat = std::fmin(q + lat, 90.0);
    const double m = std::fmax(std::fabs(min_lat), std::fabs(max_lat));
    if (m >= kPolarLatitude) return {-180.0, min_lat, 180.0, max_lat};
    const double w = distance / (std::cos(m * kDegToRad) * kMetresPerDegreeLon);
    if (w > 180.0 || 0.0 - w < -180.0) return {-180.0, min_lat, 180.0, max_lat};
    return {0.0 - w, min_lat, w + 0.0, max_lat};
}

}  // namespace vardelin
