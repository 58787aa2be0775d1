#pragma once
#include <string_view>

#include "core/numeric.hpp"

namespace vardelin {

// Row positions are 32-bit everywhere inside the system.
void ensure_u32_indexable(u64 count, std::string_view label);

}  // namespace vardelin
