#include <string>

#include "engine/planner_methods.hpp"
#include "planner/index_mode.hpp"

namespace vardelin {

std::string set_index_mode(Engine& engine, std::string_view mode) {
    const IndexMode next = parse_index_mode(mode);
    std::string previous(name_of(engine.index_mode));
    engine.index_mode = next;
    return previous;
}

}  // namespace vardelin
