#pragma once
#include <cstddef>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include "core/shared_array.hpp"

namespace vardelin {

// out[i] = f(i) for every i < n on the worker pool, with the pool's own splitting. Each
// element is written once by one worker, so the result does not depend on the split; the
// buffer is left uninitialised until then, because zeroing it on one thread would cost as
// much as the map.
template <class T, class F>
Buffer<T> parallel_map(std::size_t n, const F& f) {
    Buffer<T> out;
    out.resize(n);
    T* dst = out.data();
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, n), [&](const tbb::blocked_range<std::size_t>& r) {
        for (std::size_t i = r.begin(); i != r.end(); ++i) dst[i] = f(i);
    });
    return out;
}

}  // namespace vardelin
