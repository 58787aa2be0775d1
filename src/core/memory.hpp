#pragma once
#include "core/numeric.hpp"

namespace vardelin {

// Sizes derived from user input (counts that may name the same bytes many times) are checked
// before anything is allocated: an allocation beyond the machine's memory may be granted
// optimistically by the kernel and then end the process when it is filled, so it is reported
// as a failed allocation (std::bad_alloc) instead.
void ensure_allocatable(u64 bytes);

}  // namespace vardelin
