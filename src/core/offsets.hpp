#pragma once
#include <span>

#include "core/numeric.hpp"

namespace vardelin {

// The rules every offset array of the polygon layout obeys, for the dataset's own arrays, the
// builders' batches and the caller's query polygons alike: each reader walks from one entry to
// the next, so an entry past its array, below 0 or stepping back is refused with a message
// naming the array before anything reads it.

// What an offset array indexes, for its messages: "ring_offsets ... at ring {i} ... coordinate
// count", "poly_offsets ... at polygon {p} ... ring count".
struct OffsetsRole {
    const char* array;
    const char* item;
    const char* bound;
};

inline constexpr OffsetsRole kRingOffsets{"ring_offsets", "ring", "coordinate count"};
inline constexpr OffsetsRole kPolyOffsets{"poly_offsets", "polygon", "ring count"};

// Every end (entries 1 onwards, read as unsigned, so a negative entry is beyond any bound)
// must not exceed `bound`.
void check_offset_ends(std::span<const i64> offsets, u64 bound, const OffsetsRole& role);

// Offsets that pass check_offset_ends can still start below 0 or step back, and every reader
// of the layout walks from one entry to the next: refuse both. Call after check_offset_ends.
void check_offset_order(std::span<const i64> offsets, const OffsetsRole& role);

// A builder batch is numbered from 0 and covers its whole array, so that shifting it past
// what the builder holds keeps the merged offsets in step with the merged arrays.
void check_batch_offsets(std::span<const i64> offsets, u64 bound, const OffsetsRole& role);

}  // namespace vardelin
