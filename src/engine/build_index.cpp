#include "engine/index_build.hpp"
#include "engine/planner_methods.hpp"
#include "planner/selector.hpp"

namespace vardelin {

void build_index(Engine& engine) {
    // The box ignores where the data lies: over data that covers the unit square it reaches
    // every histogram cell and asks for a scan, elsewhere only the border cells. The mode is
    // not consulted, and the natural kind of a polygon dataset is always the R-tree.
    const QueryShape representative = QueryShape::range({0.0, 0.0, 1.0, 1.0});
    build_index_if_needed(engine, natural_candidate(engine.stats, representative));
}

}  // namespace vardelin
