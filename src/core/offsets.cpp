#include "core/offsets.hpp"

#include <string>

#include "core/error.hpp"

namespace vardelin {

void check_offset_ends(std::span<const i64> offsets, u64 bound, const OffsetsRole& role) {
    for (std::size_t i = 1; i < offsets.size(); ++i) {
        const u64 end = static_cast<u64>(offsets[i]);
        if (end > bound) {
            throw Error(std::string(role.array) + " out of bounds at " + role.item + " " + std::to_string(i - 1) +
                        ": end=" + std::to_string(end) + " but " + role.bound + " is " + std::to_string(bound));
        }
    }
}

void check_offset_order(std::span<const i64> offsets, const OffsetsRole& role) {
    if (offsets.empty()) return;
    if (offsets[0] < 0) {
        throw Error(std::string(role.array) + " must not be negative: first entry is " + std::to_string(offsets[0]));
    }
    for (std::size_t i = 1; i < offsets.size(); ++i) {
        if (offsets[i] < offsets[i - 1]) {
            throw Error(std::string(role.array) + " must not decrease: " + role.item + " " + std::to_string(i - 1) +
                        " starts at " + std::to_string(offsets[i - 1]) + " but ends at " + std::to_string(offsets[i]));
        }
    }
}

void check_batch_offsets(std::span<const i64> offsets, u64 bound, const OffsetsRole& role) {
    if (offsets.empty() || offsets[0] != 0) {
        throw Error(std::string(role.array) + " of a builder batch must start at 0");
    }
    check_offset_order(offsets, role);
    if (static_cast<u64>(offsets.back()) != bound) {
        throw Error(std::string(role.array) + " of a builder batch must end at the " + role.bound + " " +
                    std::to_string(bound) + ", got " + std::to_string(offsets.back()));
    }
}

}  // namespace vardelin
