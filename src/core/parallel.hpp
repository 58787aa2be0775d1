#pragma once
#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include "core/shared_array.hpp"

namespace vardelin {

// Threads of the process-wide pool (oneTBB's global arena), at least 1. Work that is chunked
// by thread count takes it from here.
inline std::size_t worker_threads() {
    int c = tbb::this_task_arena::max_concurrency();
    return c < 1 ? std::size_t{1} : static_cast<std::size_t>(c);
}

inline std::size_t chunk_count(std::size_t n, std::size_t chunk_size) {
    return chunk_size == 0 ? 0 : (n + chunk_size - 1) / chunk_size;
}

// Runs f(chunk_index, begin, end) over consecutive chunks of `chunk_size` items in parallel
// and returns the results in chunk order, whatever order the workers finished in. An
// exception thrown by any chunk cancels the chunks not yet started and is rethrown here
// (the first one recorded wins), so a failed call produces nothing.
template <class F>
auto map_chunks(std::size_t n, std::size_t chunk_size, F&& f) {
    using R = std::invoke_result_t<F&, std::size_t, std::size_t, std::size_t>;
    const std::size_t chunks = chunk_count(n, chunk_size);
    std::vector<R> out(chunks);
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, chunks, 1),
                      [&](const tbb::blocked_range<std::size_t>& r) {
                          for (std::size_t c = r.begin(); c != r.end(); ++c) {
                              const std::size_t b = c * chunk_size;
                              out[c] = f(c, b, std::min(n, b + chunk_size));
                          }
                      });
    return out;
}

// Joins per-chunk results in chunk order with a single allocation, so a parallel collection
// gives exactly what the sequential loop would.
template <class T>
std::vector<T> concat_ordered(std::vector<std::vector<T>>&& parts) {
    std::size_t total = 0;
    for (const auto& p : parts) total += p.size();
    std::vector<T> out;
    out.reserve(total);
    for (auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
        std::vector<T>().swap(p);
    }
    return out;
}

// Copies `src` into a new vector on every worker; a 10 M-point copy is memory-bound and a
// single thread leaves most of the bandwidth unused.
template <class T>
Buffer<T> parallel_copy(const T* src, std::size_t n) {
    Buffer<T> out;
    out.resize(n);
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, n, 1 << 16),
                      [&](const tbb::blocked_range<std::size_t>& r) {
                          std::copy(src + r.begin(), src + r.end(), out.data() + r.begin());
                      });
    return out;
}

}  // namespace vardelin
