#include "core/row_limit.hpp"

#include <string>

#include "core/error.hpp"

namespace vardelin {

void ensure_u32_indexable(u64 count, std::string_view label) {
    if (count <= kU32Max) return;
    throw Error(std::string(label) + " has " + std::to_string(count) +
                " rows; Vardelin's single-node join indices support at most " +
                std::to_string(kU32Max));
}

}  // namespace vardelin
