#pragma once
#include <string>
#include <string_view>

#include "engine/engine.hpp"

namespace vardelin {

// Stores the mode named by `mode` and returns the name of the one it replaces, so a caller can
// restore it after a scoped override. An unknown name throws Error and changes nothing.
std::string set_index_mode(Engine& engine, std::string_view mode);

// Builds the index a representative range query over (0, 0)-(1, 1) would naturally use,
// whatever the index mode; a no-op when it is built already.
void build_index(Engine& engine);

// One line describing the dataset statistics, for debugging.
std::string stats_info(const Engine& engine);

}  // namespace vardelin
