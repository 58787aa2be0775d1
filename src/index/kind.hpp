#pragma once
#include <array>
#include <cstdint>

namespace vardelin {

// Numbered as the metrics columns; column 4 is "none" (answered without an index).
enum class IndexKind : std::uint8_t { BruteForce = 0, RTree = 1, KdTree = 2, Grid = 3 };

inline constexpr int kIndexKinds = 4;
inline constexpr int kNoIndexColumn = 4;

constexpr const char* name_of(IndexKind kind) noexcept {
    switch (kind) {
        case IndexKind::BruteForce: return "brute_force";
        case IndexKind::RTree: return "r_tree";
        case IndexKind::KdTree: return "kd_tree";
        case IndexKind::Grid: return "grid";
    }
    return "brute_force";
}

// Which index slots of a dataset are filled, by IndexKind number.
using BuiltKinds = std::array<bool, kIndexKinds>;

constexpr int column_of(IndexKind kind) noexcept { return static_cast<int>(kind); }

}  // namespace vardelin
