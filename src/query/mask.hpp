#pragma once
#include <cstdint>
#include <span>

#include "core/numeric.hpp"
#include "core/shared_array.hpp"

namespace vardelin {

// One byte (0 or 1) per candidate, in the candidates' order: 1 exactly when the candidate is
// below n and among the hits. Hits at or above n are ignored, so n bounds the bitmap.
Buffer<std::uint8_t> hits_to_mask(u64 n, std::span<const u64> hits, std::span<const u32> candidates);

}  // namespace vardelin
