#pragma once
#include <vector>

#include "core/numeric.hpp"

namespace vardelin {

// Row positions (or logical polygon ids) that satisfied one predicate; neither order nor
// uniqueness is required, and duplicates count.
using HitList = std::vector<u64>;

// Multiset intersection of two ascending lists, ascending: a value found a times in one and
// b times in the other appears min(a, b) times. Both inputs are consumed.
HitList sorted_intersect(HitList a, HitList b);

// Multiset intersection of every list, ascending; empty when there are no lists.
HitList intersect_hits(std::vector<HitList> lists);

}  // namespace vardelin
