#include <nanobind/stl/vector.h>

#include "engine/intersect_ranges.hpp"
#include "lib/convert.hpp"
#include "lib/py_engine.hpp"
#include "query/hits.hpp"

namespace vardelin::lib {

void bind_engine_hits(EngineClass& cls) {
    cls.def(
        "intersect_hits",
        [](PyEngine& self, nb::handle lists) {
            // Nothing of the dataset is read, but the call still honours the borrow flag.
            const auto borrow = self.shared();
            return intersect_hits(to_u64_lists(lists, "lists"));
        },
        nb::arg("lists").none(), "Intersect heterogeneous hit lists via iterative two-pointer sorted merge");

    cls.def(
        "intersect_ranges",
        [](PyEngine& self, nb::handle queries) {
            // Exclusive: every range query records metrics and may merge the delta buffer.
            auto e = self.exclusive();
            const auto boxes = to_float_tuples<4>(queries, "queries");
            return to_int_list(intersect_ranges(*e, boxes));
        },
        nb::arg("queries").none(),
        "Intersect multiple bbox queries via two-pointer sorted merge on the hit arrays.\n"
        "O(K * |H|) over K predicates and per-predicate hit count |H| rather than O(K * N)\n"
        "bitmap ANDs. Short-circuits once the running intersection is empty.");
}

}  // namespace vardelin::lib
