#include "core/parallel.hpp"

#include <pthread.h>

namespace vardelin::detail {

std::atomic<int> pool_state{kPoolUnused};

namespace {

// The child of a fork holds only the thread that forked: the pool's threads are gone while
// the pool's shared state still counts them, and any lock one of them held stays locked, so
// the child's first parallel loop could wait forever.
void forget_pool_in_child() noexcept {
    if (pool_state.load(std::memory_order_relaxed) != kPoolUnused) {
        pool_state.store(kPoolForked, std::memory_order_relaxed);
    }
}

}  // namespace

bool start_pool() noexcept {
    // Registered before the pool is first entered, so every fork taken after that sees it.
    static const bool registered = pthread_atfork(nullptr, nullptr, forget_pool_in_child) == 0;
    int expected = kPoolUnused;
    pool_state.compare_exchange_strong(expected, registered ? kPoolInUse : kPoolForked, std::memory_order_acq_rel);
    return pool_state.load(std::memory_order_acquire) == kPoolInUse;
}

}  // namespace vardelin::detail
