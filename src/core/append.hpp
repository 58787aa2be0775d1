#pragma once
#include <algorithm>
#include <span>

namespace vardelin {

// Makes room for `extra` more elements with geometric growth: many small appends then cost
// amortised O(1) per element, where reserving the exact size would copy everything each time.
template <class Vec>
void reserve_for_append(Vec& v, std::size_t extra) {
    const std::size_t need = v.size() + extra;
    if (need > v.capacity()) v.reserve(std::max(need, v.capacity() * 2));
}

// Appends equal-length batches to two parallel arrays. Both grow before either is written, so
// running out of memory leaves the pair unchanged and still of equal length.
template <class VecA, class VecB, class T>
void append_pair(VecA& a, VecB& b, std::span<const T> xa, std::span<const T> xb) {
    reserve_for_append(a, xa.size());
    reserve_for_append(b, xb.size());
    a.insert(a.end(), xa.begin(), xa.end());
    b.insert(b.end(), xb.begin(), xb.end());
}

}  // namespace vardelin
