#include <nanobind/stl/vector.h>

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
        nb::arg("lists"), "Intersect heterogeneous hit lists via iterative two-pointer sorted merge");
}

}  // namespace vardelin::lib
