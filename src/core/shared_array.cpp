#include "core/shared_array.hpp"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <sys/mman.h>

namespace vardelin {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kKeptBlocks = 16;
constexpr std::size_t kKeptBytesCeiling = std::size_t{4} << 30;

// Freed large blocks are kept for the next allocation of the same size: the first touch of a
// fresh block costs a page fault and the clearing of every page, which for a 10 M point
// dataset takes longer than copying the coordinates into it. Kept blocks are handed back to
// the kernel lazily (MADV_FREE), so under memory pressure it reclaims them and a reclaimed
// block simply faults in cleared pages again; the cache never adds to what the process needs.
// Sizes are rounded to whole huge pages, so a dataset built again at about the same size meets
// its predecessor's blocks.
class BlockCache {
public:
    BlockCache() { blocks_.reserve(kKeptBlocks); }

    void* take(std::size_t bytes) noexcept {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto hit = std::find_if(blocks_.rbegin(), blocks_.rend(), [&](const Block& b) { return b.bytes == bytes; });
        if (hit == blocks_.rend()) return nullptr;
        void* p = hit->p;
        held_ -= bytes;
        blocks_.erase(std::next(hit).base());
        return p;
    }

    // False when the block is too large to keep; it is then the caller's to free.
    bool keep(void* p, std::size_t bytes) noexcept {
        if (bytes > limit_) return false;
        (void)madvise(p, bytes, MADV_FREE);
        void* evicted[kKeptBlocks];
        std::size_t evicted_count = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            while (!blocks_.empty() && (blocks_.size() == kKeptBlocks || held_ + bytes > limit_)) {
                evicted[evicted_count++] = blocks_.front().p;
                held_ -= blocks_.front().bytes;
                blocks_.erase(blocks_.begin());
            }
            blocks_.push_back({p, bytes});  // within the reserved capacity: never throws
            held_ += bytes;
        }
        for (std::size_t i = 0; i < evicted_count; ++i) std::free(evicted[i]);
        return true;
    }

    // Held across a fork, so that the child never inherits it locked by a thread it lacks.
    void lock() noexcept { mutex_.lock(); }
    void unlock() noexcept { mutex_.unlock(); }

private:
    struct Block {
        void* p;
        std::size_t bytes;
    };

    // An eighth of the machine's memory, at most a few GiB: enough for a large dataset's
    // coordinates and indexes to be rebuilt without fresh pages.
    static std::size_t kept_bytes_limit() noexcept {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long page_size = sysconf(_SC_PAGESIZE);
        if (pages <= 0 || page_size <= 0) return 0;
        const std::size_t physical = static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size);
        return std::min(physical / 8, kKeptBytesCeiling);
    }

    std::mutex mutex_;
    std::vector<Block> blocks_;  // oldest first
    std::size_t held_ = 0;
    const std::size_t limit_ = kept_bytes_limit();
};

BlockCache& block_cache();

void lock_block_cache() noexcept { block_cache().lock(); }
void unlock_block_cache() noexcept { block_cache().unlock(); }

// Never destroyed: buffers may be freed while static objects are torn down at exit.
BlockCache& block_cache() {
    static BlockCache* cache = [] {
        auto* made = new BlockCache;
        (void)pthread_atfork(lock_block_cache, unlock_block_cache, unlock_block_cache);
        return made;
    }();
    return *cache;
}

std::size_t whole_huge_pages(std::size_t bytes) noexcept { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* allocate_bytes(std::size_t bytes) {
    if (bytes < kHugePage) {
        if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
        throw std::bad_alloc();
    }
    const std::size_t rounded = whole_huge_pages(bytes);
    if (void* p = block_cache().take(rounded)) return p;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (!p) throw std::bad_alloc();
    // Advice only: where huge pages are unavailable the memory works as before.
    (void)madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

void deallocate_bytes(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes < kHugePage) {
        std::free(p);
        return;
    }
    if (!block_cache().keep(p, whole_huge_pages(bytes))) std::free(p);
}

}  // namespace vardelin
