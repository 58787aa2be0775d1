#pragma once
#include <algorithm>
#include <cstddef>
#include <span>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include "core/numeric.hpp"
#include "core/shared_array.hpp"

namespace vardelin {

// `head` followed by `tail` in one new array, allocated once and filled on every worker: a
// merge copies the whole main array, which is memory-bound like `parallel_copy`.
template <class T>
Buffer<T> parallel_concat(std::span<const T> head, std::span<const T> tail) {
    Buffer<T> out;
    out.resize(checked_add(head.size(), tail.size()));
    T* dst = out.data();
    const std::size_t split = head.size();
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, out.size(), 1 << 16),
                      [&](const tbb::blocked_range<std::size_t>& r) {
                          const std::size_t b = r.begin(), e = r.end();
                          // Pointers are only formed inside the span they belong to.
                          if (b < split) std::copy(head.data() + b, head.data() + std::min(e, split), dst + b);
                          if (e > split) {
                              const std::size_t from = std::max(b, split);
                              std::copy(tail.data() + (from - split), tail.data() + (e - split), dst + from);
                          }
                      });
    return out;
}

}  // namespace vardelin
