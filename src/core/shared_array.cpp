#include "core/shared_array.hpp"

#include <cstdlib>

#include <sys/mman.h>

namespace vardelin {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

void* allocate_bytes(std::size_t bytes) {
    if (bytes < kHugePage) {
        if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
        throw std::bad_alloc();
    }
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (!p) throw std::bad_alloc();
    // Advice only: where huge pages are unavailable the memory works as before.
    (void)madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

void deallocate_bytes(void* p, std::size_t) noexcept { std::free(p); }

}  // namespace vardelin
