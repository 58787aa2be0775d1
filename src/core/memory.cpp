#include "core/memory.hpp"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <new>

namespace vardelin {

void ensure_allocatable(u64 bytes) {
    if (bytes > static_cast<u64>(PTRDIFF_MAX)) throw std::bad_alloc();
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return;  // unknown: leave it to the allocator
    u64 physical = 0;
    if (__builtin_mul_overflow(static_cast<u64>(pages), static_cast<u64>(page_size), &physical)) return;
    if (bytes > physical) throw std::bad_alloc();
}

}  // namespace vardelin
