#pragma once
#include "engine/engine.hpp"
#include "index/part_boxes.hpp"

namespace vardelin {

// The polygon layout of a dataset as indexes and exact part tests read it.
inline PartLayout part_layout(const Engine& e) noexcept {
    return {e.x(), e.y(), view(e.ring_offsets), view(e.poly_offsets)};
}

}  // namespace vardelin
