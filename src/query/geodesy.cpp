#include "query/geodesy.hpp"

namespace vardelin {

double haversine_m_scaled(double s_lon, double s_lat, double c) noexcept {
    // Both sines and their scaled squares are small, so asin is the identity to the last bit
    // and the scaled square root goes straight back to its power of two.
    const int e = common_exponent(s_lon, s_lat);
    const double sl = std::ldexp(s_lon, -e), sp = std::ldexp(s_lat, -e);
    const double a = (sl * sl) * c + sp * sp;
    return std::asin(std::ldexp(std::sqrt(a), e)) * kEarthDiameterM;
}

Box conservative_degree_box(double lat, double distance) noexcept {
    return geographic_search_box(0.0, lat, distance);
}

}  // namespace vardelin
