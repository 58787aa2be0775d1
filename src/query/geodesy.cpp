#include "query/geodesy.hpp"

namespace vardelin {

Box conservative_degree_box(double lat, double distance) noexcept {
    return geographic_search_box(0.0, lat, distance);
}

}  // namespace vardelin
