#pragma once
#include <algorithm>
#include <cstddef>

namespace vardelin {

// Makes room for `extra` more elements before anything is appended, so that appends that
// follow cannot fail half way; grows at least geometrically, since an exact reserve on every
// batch would copy the whole array each time.
template <class Vec>
void reserve_more(Vec& v, std::size_t extra) {
    const std::size_t need = v.size() + extra;
    if (need <= v.capacity()) return;
    v.reserve(std::max(need, v.capacity() * 2));
}

}  // namespace vardelin
