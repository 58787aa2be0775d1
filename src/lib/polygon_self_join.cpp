#include "engine/polygon_self_join.hpp"
#include "lib/engine_methods.hpp"

namespace vardelin::lib {

void def_polygon_intersects_self_join(EngineClass& cls) {
    cls.def(
        "polygon_intersects_self_join",
        [](PyEngine& self) {
            auto e = self.exclusive();
            return hand_over(polygon_intersects_self_join(*e, without_gil));
        },
        "Self-join: unordered pairs (i, j) with i < j of Engine polygons that intersect.\n"
        "Engine must be a polygon dataset.\n"
        "\n"
        "Returns a flat u32 array interleaved [i0, j0, i1, j1, ...] for reshaping to (-1, 2).",
        nb::sig("def polygon_intersects_self_join(self) -> " VARDELIN_RESULT(uint32) ));
}

}  // namespace vardelin::lib
