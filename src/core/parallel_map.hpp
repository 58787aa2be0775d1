#pragma once
#include <cstddef>

#include "core/parallel.hpp"
#include "core/shared_array.hpp"

namespace vardelin {

// out[i] = f(i) for every i < n. Each element is written once by one worker, so the result
// does not depend on the split; the buffer is left uninitialised until then, because zeroing
// it on one thread would cost as much as the map.
template <class T, class F>
Buffer<T> parallel_map(std::size_t n, const F& f) {
    Buffer<T> out;
    out.resize(n);
    T* dst = out.data();
    parallel_blocks(n, 1, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i != e; ++i) dst[i] = f(i);
    });
    return out;
}

}  // namespace vardelin
