#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "index/kind.hpp"

namespace vardelin {

// How the planner picks an index: a fixed kind, none at all, fixed rules ("eager") or cost.
struct IndexMode {
    enum class Tag : std::uint8_t { Explicit, None, Eager, Auto };
    Tag tag = Tag::Eager;
    IndexKind kind = IndexKind::BruteForce;  // meaningful for Explicit only

    static constexpr IndexMode eager() noexcept { return {Tag::Eager, IndexKind::BruteForce}; }
    static constexpr IndexMode explicit_kind(IndexKind k) noexcept { return {Tag::Explicit, k}; }

    friend constexpr bool operator==(const IndexMode& a, const IndexMode& b) noexcept {
        return a.tag == b.tag && (a.tag != Tag::Explicit || a.kind == b.kind);
    }
};

constexpr std::string_view name_of(const IndexMode& mode) noexcept {
    switch (mode.tag) {
        case IndexMode::Tag::None: return "none";
        case IndexMode::Tag::Eager: return "eager";
        case IndexMode::Tag::Auto: return "auto";
        case IndexMode::Tag::Explicit:
            switch (mode.kind) {
                case IndexKind::BruteForce: return "explicit:brute_force";
                case IndexKind::RTree: return "explicit:r_tree";
                case IndexKind::KdTree: return "explicit:kd_tree";
                case IndexKind::Grid: return "explicit:grid";
            }
    }
    return "eager";
}

// The modes a caller may set; "explicit:brute_force" is only ever reported, never accepted.
// Throws Error naming the text exactly as given.
IndexMode parse_index_mode(std::string_view text);

}  // namespace vardelin
