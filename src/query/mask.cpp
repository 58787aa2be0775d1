#include "query/mask.hpp"

#include <vector>

namespace vardelin {

Buffer<std::uint8_t> hits_to_mask(u64 n, std::span<const u64> hits, std::span<const u32> candidates) {
    std::vector<std::uint8_t> bitmap(n, 0);
    for (const u64 h : hits) {
        if (h < n) bitmap[h] = 1;
    }
    Buffer<std::uint8_t> mask;
    mask.resize(candidates.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const u32 c = candidates[i];
        mask[i] = c < n ? bitmap[c] : 0;
    }
    return mask;
}

}  // namespace vardelin
