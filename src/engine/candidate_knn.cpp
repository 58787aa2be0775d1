#include "engine/candidates.hpp"
#include "query/candidate_knn.hpp"
#include "query/mask.hpp"

namespace vardelin {

std::vector<u64> knn_from_candidates(const Engine& engine, double x, double y, u64 k,
                                     std::span<const u32> candidates) {
    return knn_indices_from_candidates(engine.x(), engine.y(), k, candidates, x, y);
}

Buffer<std::uint8_t> knn_mask_from_candidates(const Engine& engine, double x, double y, u64 k,
                                              std::span<const u32> candidates) {
    const auto rows = knn_indices_from_candidates(engine.x(), engine.y(), k, candidates, x, y);
    return hits_to_mask(mask_bound(engine), rows, candidates);
}

}  // namespace vardelin
