#include "planner/index_mode.hpp"

#include <string>

#include "core/error.hpp"

namespace vardelin {

IndexMode parse_index_mode(std::string_view text) {
    if (text == "auto") return {IndexMode::Tag::Auto, IndexKind::BruteForce};
    if (text == "none") return {IndexMode::Tag::None, IndexKind::BruteForce};
    if (text == "eager") return IndexMode::eager();
    if (text == "explicit:r_tree") return IndexMode::explicit_kind(IndexKind::RTree);
    if (text == "explicit:kd_tree") return IndexMode::explicit_kind(IndexKind::KdTree);
    if (text == "explicit:grid") return IndexMode::explicit_kind(IndexKind::Grid);
    throw Error("index mode must be 'auto', 'eager', or 'none', got '" + std::string(text) + "'");
}

}  // namespace vardelin
