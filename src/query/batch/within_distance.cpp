#include "query/batch/within_distance.hpp"

namespace vardelin {

std::vector<u32> single_query_pairs(const std::vector<PointHit>& hits, const RadiusTest& test) {
    const std::vector<u64> kept = par_radius(hits, test);
    std::vector<u32> out(2 * kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) out[2 * i + 1] = static_cast<u32>(kept[i]);
    return out;
}

}  // namespace vardelin
