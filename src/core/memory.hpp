#pragma once
#include <string>

#include "core/numeric.hpp"

namespace vardelin {

// Bytes the process can still take before the kernel refuses it or ends it: what the kernel
// reports available (MemAvailable), lowered by every memory cgroup limit the process sits under,
// each level's limit less the usage the kernel cannot reclaim. Absent or unreadable files are
// passed over; without any, the physical memory. `proc` is where procfs is mounted.
u64 available_memory(const std::string& proc) noexcept;

// Sizes derived from user input (counts that may name the same bytes many times) are checked
// before anything is allocated: an allocation beyond what is available may be granted
// optimistically by the kernel and then end the process when it is filled, so it is reported
// as a failed allocation (std::bad_alloc) instead. Callers pass everything the request will
// hold at its peak, the result included. Small requests are not weighed, so the check costs
// nothing on small calls.
void ensure_allocatable(u64 bytes);

// Requests the cache line holding *p without waiting for it. GCC deletes a loop whose only
// effect is __builtin_prefetch (it counts as no effect at all), which silently undoes a pass
// that requests scattered lines ahead of a scan; a volatile asm statement is kept.
template <class T>
inline void request_line(const T* p) noexcept {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 %0" : : "m"(*reinterpret_cast<const char*>(p)));
#else
    __builtin_prefetch(p);
#endif
}

}  // namespace vardelin
