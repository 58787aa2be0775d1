#include "query/batch/knn_scratch.hpp"

#include <algorithm>

#include "core/memory.hpp"

namespace vardelin {

KnnScratch KnnScratch::with_capacity(u64 k, u64 findable) {
    const u64 held = std::min(k, findable);
    const u64 candidates = checked_mul(held, 2);
    const u64 wide = checked_mul(held, 4);
    const u64 best = checked_add(held, 1);
    u64 bytes = checked_mul(candidates, sizeof(Neighbor));
    bytes = checked_add(bytes, checked_mul(wide, sizeof(u64) + sizeof(RankedPart)));
    bytes = checked_add(bytes, checked_mul(best, sizeof(NearestPolygon)));
    ensure_allocatable(bytes);
    KnnScratch s;
    s.candidates.reserve(candidates);
    s.range_hits.reserve(wide);
    s.ranked.reserve(wide);
    s.best.reserve(best);
    return s;
}

void insert_nearest(std::vector<NearestPolygon>& best, u32 id, u64 k, double distance) {
    if (k == 0) return;
    const auto same = std::find_if(best.begin(), best.end(), [id](const NearestPolygon& e) { return e.id == id; });
    if (same != best.end()) {
        if (!nan_last_less(distance, same->distance)) return;
        best.erase(same);
    } else if (best.size() >= k && !nan_last_less(distance, best.back().distance)) {
        return;
    }
    // After every entry of equal distance, so that earlier insertions stay first.
    const auto at = std::upper_bound(best.begin(), best.end(), distance,
                                     [](double d, const NearestPolygon& e) { return nan_last_less(d, e.distance); });
    best.insert(at, {id, distance});
    if (best.size() > k) best.pop_back();
}

}  // namespace vardelin
