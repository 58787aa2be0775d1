#pragma once
#include <optional>

#include "core/numeric.hpp"
#include "engine/engine.hpp"
#include "index/kind.hpp"

namespace vardelin {

// Work of delta points scanned since the last merge after which a merge pays for itself, for
// queries answered by `kind` over `main_length` points; none when no amount ever does.
std::optional<u64> delta_work_threshold(IndexKind kind, u64 main_length) noexcept;

// Counts `work` scanned delta points against the Engine (a single query adds the delta
// length, the batch kNN join its query count times that) and merges the delta buffer at once
// when the threshold of the kind that answered is reached. Returns whether it merged; ids
// handed out before the merge stay valid, since merged point j lands at main length + j.
bool add_delta_work(Engine& engine, IndexKind kind, u64 work);

}  // namespace vardelin
