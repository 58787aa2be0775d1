#include "engine/delta.hpp"
#include "lib/coordinate_view.hpp"
#include "lib/py_engine.hpp"

namespace vardelin::lib {

void bind_engine_views(EngineClass& cls) {
    // Exclusive, because waiting points are merged first so that the view shows them.
    cls.def(
        "xs",
        [](PyEngine& self) {
            auto e = self.exclusive();
            merge_delta(*e);
            return coordinate_view(e->xs);
        },
        "Zero-copy read-only view of the dataset x coordinates");

    cls.def(
        "ys",
        [](PyEngine& self) {
            auto e = self.exclusive();
            merge_delta(*e);
            return coordinate_view(e->ys);
        },
        "Zero-copy read-only view of the dataset y coordinates");
}

}  // namespace vardelin::lib
