#pragma once
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_invoke.h>
#include <tbb/parallel_reduce.h>
#include <tbb/parallel_sort.h>
#include <tbb/task_arena.h>

#include "core/numeric.hpp"
#include "core/shared_array.hpp"

namespace vardelin {

// Every parallel loop of the system goes through these helpers, over the process-wide pool
// (oneTBB's global arena).

namespace detail {
inline constexpr int kPoolUnused = 0, kPoolInUse = 1, kPoolForked = 2;
extern std::atomic<int> pool_state;
bool start_pool() noexcept;
}  // namespace detail

// False in a process forked from one whose pool had started: the pool's threads are not
// carried over by fork and its shared state may be left locked by one of them, so such a child
// runs every loop on its calling thread and never enters the pool. A child forked before the
// pool's first use starts a pool of its own.
inline bool pool_usable() noexcept {
    const int state = detail::pool_state.load(std::memory_order_acquire);
    return state == detail::kPoolInUse || (state == detail::kPoolUnused && detail::start_pool());
}

// Threads of the pool, at least 1. Work that is chunked by thread count takes it from here.
inline std::size_t worker_threads() {
    if (!pool_usable()) return 1;
    int c = tbb::this_task_arena::max_concurrency();
    return c < 1 ? std::size_t{1} : static_cast<std::size_t>(c);
}

inline std::size_t chunk_count(std::size_t n, std::size_t chunk_size) {
    return chunk_size == 0 ? 0 : (n + chunk_size - 1) / chunk_size;
}

// f(begin, end) over blocks of [0, n) of at least `grain` items (the pool's own splitting
// below that): for loops whose every item writes only its own output.
template <class F>
void parallel_blocks(std::size_t n, std::size_t grain, const F& f) {
    if (!pool_usable()) {
        if (n != 0) f(std::size_t{0}, n);
        return;
    }
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, n, grain),
                      [&](const tbb::blocked_range<std::size_t>& r) { f(r.begin(), r.end()); });
}

// Runs f() and g() possibly at the same time, for divide-and-conquer over disjoint halves;
// each must write only its own half, so the outcome does not depend on the thread count.
template <class F, class G>
void run_both(const F& f, const G& g) {
    if (!pool_usable()) {
        f();
        g();
        return;
    }
    tbb::parallel_invoke(f, g);
}

// Folds blocks of [0, n) with fold(begin, end, acc) from `identity` and joins the block
// results with `join`, which must not depend on how the range was split.
template <class T, class Fold, class Join>
T parallel_fold(std::size_t n, std::size_t grain, const T& identity, const Fold& fold, const Join& join) {
    if (!pool_usable()) return n == 0 ? identity : fold(std::size_t{0}, n, identity);
    return tbb::parallel_reduce(
        tbb::blocked_range<std::size_t>(0, n, grain), identity,
        [&](const tbb::blocked_range<std::size_t>& r, T acc) { return fold(r.begin(), r.end(), acc); }, join);
}

// Sorts [first, last) ascending by `<`. The sort is not stable: callers sort keys that are
// unique, so the order does not depend on the split.
template <class It>
void parallel_sort(It first, It last) {
    if (!pool_usable()) {
        std::sort(first, last);
        return;
    }
    tbb::parallel_sort(first, last);
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
    parallel_blocks(chunks, 1, [&](std::size_t first, std::size_t last) {
        for (std::size_t c = first; c != last; ++c) {
            const std::size_t b = c * chunk_size;
            out[c] = f(c, b, std::min(n, b + chunk_size));
        }
    });
    return out;
}

// Joins per-chunk results in chunk order with a single allocation, so a parallel collection
// gives exactly what the sequential loop would. The result is of the chunks' own container
// unless `Out` names another (a Buffer for a result that may be large: the chunks stay small).
template <class Out = void, class Part>
auto concat_ordered(std::vector<Part>&& parts) {
    using Result = std::conditional_t<std::is_void_v<Out>, Part, Out>;
    std::size_t total = 0;
    for (const auto& p : parts) total += p.size();
    Result out;
    out.reserve(total);
    for (auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
        Part().swap(p);
    }
    return out;
}

// Copies `src` into a new vector on every worker; a 10 M-point copy is memory-bound and a
// single thread leaves most of the bandwidth unused.
template <class T>
Buffer<T> parallel_copy(const T* src, std::size_t n) {
    Buffer<T> out;
    out.resize(n);
    parallel_blocks(n, 1 << 16, [&](std::size_t b, std::size_t e) { std::copy(src + b, src + e, out.data() + b); });
    return out;
}

// `head` followed by `tail` in one new array, allocated once and filled on every worker: a
// merge copies the whole main array, which is memory-bound like `parallel_copy`.
template <class T>
Buffer<T> parallel_concat(std::span<const T> head, std::span<const T> tail) {
    Buffer<T> out;
    out.resize(checked_add(head.size(), tail.size()));
    T* dst = out.data();
    const std::size_t split = head.size();
    parallel_blocks(out.size(), 1 << 16, [&](std::size_t b, std::size_t e) {
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
