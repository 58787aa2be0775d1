#include "engine/calibration_build.hpp"

#include <string>

#include "core/error.hpp"
#include "core/quote.hpp"
#include "engine/index_build.hpp"

namespace vardelin {

void build_index_for_calibration(Engine& engine, std::string_view text) {
    IndexKind kind = IndexKind::RTree;
    if (text == "grid") {
        kind = IndexKind::Grid;
    } else if (text == "kd_tree") {
        kind = IndexKind::KdTree;
    } else if (text != "r_tree") {
        throw Error("calibration index must be 'grid', 'kd_tree', or 'r_tree', got " + debug_quoted(text));
    }
    if (kind != IndexKind::RTree && engine.is_polygons()) {
        throw Error("grid and kd_tree calibration indexes require point data");
    }
    engine.index_mode = IndexMode::explicit_kind(kind);
    build_index_if_needed(engine, kind);
}

}  // namespace vardelin
